# The window's Qt runtime for the Windows cross build, from the prefix that
# scripts/windows-qt.sh cross-builds (Qt and QCustomPlot, found through CMAKE_PREFIX_PATH).
set(TREVANE_QT_PREFIX "" CACHE PATH "The cross-built Qt prefix (scripts/windows-qt.sh prints it)")
if(NOT EXISTS "${TREVANE_QT_PREFIX}/lib/cmake/Qt6/Qt6Config.cmake")
    message(FATAL_ERROR "no Qt for Windows in TREVANE_QT_PREFIX '${TREVANE_QT_PREFIX}' "
                        "(scripts/windows-qt.sh builds it)")
endif()
# The toolchain searches the cross sysroot only; the Qt prefix and QCustomPlot's are the others.
list(APPEND CMAKE_FIND_ROOT_PATH ${TREVANE_QT_PREFIX} ${TREVANE_QT_PREFIX}/qcustomplot)
list(APPEND CMAKE_PREFIX_PATH ${TREVANE_QT_PREFIX} ${TREVANE_QT_PREFIX}/qcustomplot)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets PrintSupport Test)
find_package(QCustomPlotQt6 REQUIRED)

# The compiler's runtime DLLs that Qt's DLLs were linked with; the prefix holds copies.
set(TREVANE_MINGW_RUNTIME_DLLS)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    if(NOT EXISTS ${TREVANE_QT_PREFIX}/bin/${dll})
        message(FATAL_ERROR "'${TREVANE_QT_PREFIX}/bin/${dll}' missing (scripts/windows-qt.sh puts it there)")
    endif()
    list(APPEND TREVANE_MINGW_RUNTIME_DLLS ${TREVANE_QT_PREFIX}/bin/${dll})
endforeach()

# A Linux path as Wine's Z: drive names it.
function(trevane_wine_path out path)
    string(REPLACE "/" "\\" windows "${path}")
    set(${out} "Z:${windows}" PARENT_SCOPE)
endfunction()

# The tests under Wine find the DLLs through WINEPATH and draw offscreen: on Windows that plugin
# renders with FreeType from a font folder of its own. Wine hands no QT_ variable on to the
# program, so the test harness names the platform and the font folder itself.
get_target_property(trevane_qcustomplot_dll QCustomPlotQt6::QCustomPlotQt6 IMPORTED_LOCATION_RELEASE)
if(NOT trevane_qcustomplot_dll)
    get_target_property(trevane_qcustomplot_dll QCustomPlotQt6::QCustomPlotQt6 IMPORTED_LOCATION)
endif()
get_filename_component(trevane_qcustomplot_bin "${trevane_qcustomplot_dll}" DIRECTORY)
# DejaVu for the text, and the Tahoma that Wine ships, which its registry names for the dialog
# font "MS Shell Dlg", so that Qt and GDI measure the same font.
set(TREVANE_QT_FONT_DIR ${CMAKE_BINARY_DIR}/test-fonts)
file(GLOB trevane_test_fonts /usr/share/fonts/truetype/dejavu/DejaVuSans*.ttf /usr/share/wine/fonts/tahoma*.ttf)
if(NOT trevane_test_fonts)
    message(FATAL_ERROR "no fonts for the offscreen tests under Wine (fonts-dejavu-core, fonts-wine)")
endif()
file(COPY ${trevane_test_fonts} DESTINATION ${TREVANE_QT_FONT_DIR})
trevane_wine_path(qt_bin ${TREVANE_QT_PREFIX}/bin)
trevane_wine_path(qcp_bin ${trevane_qcustomplot_bin})
set(TREVANE_QT_TEST_ENVIRONMENT "WINEPATH=${qt_bin}\\;${qcp_bin}")

# Installs beside the window exactly the DLLs it imports and the plugins Qt loads at run time;
# scripts/windows-check.sh holds the result to that with objdump.
function(trevane_install_qt_runtime)
    install(FILES $<TARGET_FILE:Qt6::Core> $<TARGET_FILE:Qt6::Gui> $<TARGET_FILE:Qt6::Widgets>
                  $<TARGET_FILE:Qt6::PrintSupport> ${trevane_qcustomplot_dll}
                  ${TREVANE_MINGW_RUNTIME_DLLS}
            DESTINATION bin)
    install(FILES ${TREVANE_QT_PREFIX}/plugins/platforms/qwindows.dll DESTINATION bin/platforms)
    install(FILES ${TREVANE_QT_PREFIX}/plugins/styles/qwindowsvistastyle.dll DESTINATION bin/styles)
endfunction()
