# trevane_layer(folder DEPENDS lib...): the folder's sources as the static library trevane_<folder>,
# linked with the layers below it only. CMake accepts cycles between static libraries, so
# scripts/check-layers.sh reads these calls and holds each folder's includes to its DEPENDS.
function(trevane_layer folder)
    cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp)
    list(FILTER sources EXCLUDE REGEX ".*/main\\.cpp$")
    add_library(trevane_${folder} STATIC ${sources})
    target_include_directories(trevane_${folder} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(trevane_${folder} PUBLIC ${ARG_DEPENDS})
    trevane_warnings(trevane_${folder})
endfunction()
