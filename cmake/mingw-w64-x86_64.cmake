# Cross-builds the programs for 64-bit Windows with Debian's MinGW-w64
# (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=$(scripts/build_qt_windows.sh --print-prefix)
# The posix-threads flavour of the compiler provides std::thread. Without
# CMAKE_PREFIX_PATH (no Qt for Windows) only the Qt-free programs are built.
# Tests run under Wine when wine64 is installed (see scripts/test_windows.sh).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QM730_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QM730_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM730_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QM730_MINGW_PREFIX}-windres)

# Libraries built for Windows outside the compiler's folder (Qt and
# libjpeg-turbo, by scripts/build_qt_windows.sh) are named by
# CMAKE_PREFIX_PATH; each is searched as a root of its own.
set(CMAKE_FIND_ROOT_PATH /usr/${QM730_MINGW_PREFIX} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A Qt for Windows runs the build machine's moc, rcc and uic: Debian's own,
# of the version its source was taken from.
set(QT_HOST_PATH /usr CACHE PATH "Qt of the build machine, whose tools a cross-built Qt runs")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "CMake files of the build machine's Qt")

# ctest and test discovery start the Windows programs through Wine.
find_program(QM730_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QM730_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QM730_WINE})
endif()
