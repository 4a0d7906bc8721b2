# Shared part of the mingw-w64 toolchain files; NVK_MINGW_TRIPLE names the target.
set(CMAKE_C_COMPILER ${NVK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${NVK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${NVK_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${NVK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests of the x86_64 build run under Wine through the project's wrapper, which
# supplies the run's Wine prefix and display.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/support/wine-run)
