# Cross build for 64-bit Windows with Debian's mingw-w64, POSIX threads flavour (std::thread and
# std::jthread need it). Tests run under Wine through the emulator setting.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TREVANE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TREVANE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TREVANE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TREVANE_MINGW_TRIPLE}-windres)

# Only the cross sysroot: never the build machine's /usr/include or /usr/lib.
set(CMAKE_FIND_ROOT_PATH /usr/${TREVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The .exe files run on a bare Windows without the compiler's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TREVANE_WINE NAMES wine wine64)
if(TREVANE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TREVANE_WINE})
endif()
