# Third-party pieces for the Windows cross build, taken from the build machine's Debian packages
# without letting its whole /usr/include into the compile.

# Standalone Asio is header-only: a folder holding only asio.hpp and asio/.
set(TREVANE_ASIO_SOURCE /usr/include CACHE PATH "Folder with the Asio headers for the cross build")
set(ASIO_INCLUDE_DIR ${CMAKE_BINARY_DIR}/asio-include)
file(MAKE_DIRECTORY ${ASIO_INCLUDE_DIR})
foreach(entry asio.hpp asio)
    if(NOT EXISTS ${TREVANE_ASIO_SOURCE}/${entry})
        message(FATAL_ERROR "Asio header '${TREVANE_ASIO_SOURCE}/${entry}' missing (libasio-dev)")
    endif()
    file(CREATE_LINK ${TREVANE_ASIO_SOURCE}/${entry} ${ASIO_INCLUDE_DIR}/${entry} SYMBOLIC)
endforeach()

# nlohmann-json (header-only) for the CLI's and the tests' JSON reading, linked in like Asio.
set(NLOHMANN_JSON_INCLUDE_DIR ${CMAKE_BINARY_DIR}/nlohmann-include)
file(MAKE_DIRECTORY ${NLOHMANN_JSON_INCLUDE_DIR})
if(NOT EXISTS /usr/include/nlohmann/json.hpp)
    message(FATAL_ERROR "nlohmann-json header '/usr/include/nlohmann/json.hpp' missing (nlohmann-json3-dev)")
endif()
file(CREATE_LINK /usr/include/nlohmann ${NLOHMANN_JSON_INCLUDE_DIR}/nlohmann SYMBOLIC)
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${NLOHMANN_JSON_INCLUDE_DIR})

# GoogleTest from its sources, built with the cross compiler.
if(TREVANE_BUILD_TESTS)
    set(TREVANE_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
    if(NOT EXISTS ${TREVANE_GTEST_SOURCE}/CMakeLists.txt)
        message(FATAL_ERROR "GoogleTest sources '${TREVANE_GTEST_SOURCE}' missing (googletest)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${TREVANE_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # GoogleTest's own build names its targets GTest::gtest and GTest::gmock.
endif()

# SQLite from its one-file form (sqlite3.c and sqlite3.h), which scripts/windows-check.sh makes
# from Debian's sqlite3 sources; Debian ships no SQLite built for Windows.
set(TREVANE_SQLITE_SOURCE "" CACHE PATH "Folder with sqlite3.c and sqlite3.h for the cross build")
if(NOT EXISTS "${TREVANE_SQLITE_SOURCE}/sqlite3.c" OR NOT EXISTS "${TREVANE_SQLITE_SOURCE}/sqlite3.h")
    message(FATAL_ERROR "sqlite3.c or sqlite3.h missing in TREVANE_SQLITE_SOURCE "
                        "'${TREVANE_SQLITE_SOURCE}' (scripts/windows-check.sh makes them)")
endif()
enable_language(C)
add_library(trevane_sqlite3 STATIC ${TREVANE_SQLITE_SOURCE}/sqlite3.c)
target_include_directories(trevane_sqlite3 SYSTEM PUBLIC ${TREVANE_SQLITE_SOURCE})
# Threads serialised as on Debian's build; no extension loading (no dlopen on this target).
target_compile_definitions(trevane_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION)
add_library(SQLite::SQLite3 ALIAS trevane_sqlite3)
