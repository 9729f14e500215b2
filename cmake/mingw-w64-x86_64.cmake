# Cross-builds the Qt-free programs for 64-bit Windows with Debian's MinGW-w64
# (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The posix-threads flavour of the compiler provides std::thread. Programs are
# linked statically, so they need no MinGW DLLs beside them. Tests run under
# Wine when wine64 is installed (see scripts/test_windows.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QM730_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QM730_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM730_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QM730_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QM730_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and test discovery start the Windows programs through Wine.
find_program(QM730_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QM730_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QM730_WINE})
endif()
