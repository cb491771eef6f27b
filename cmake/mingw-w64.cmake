# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix: the
# variant with C++ threads), and running the results under Wine:
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# zocfg.exe is linked statically, so that it needs no runtime libraries beside it (cli/). Programs
# that the build or ctest runs (the build-time generators, the tests) start through
# cmake/wine-run.sh with a Wine prefix of the build's own (<build>/wine), which finds the
# compiler's runtime libraries for them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZO_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ZO_MINGW}-windres)

# Libraries and headers come from the cross environment only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ZO_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wine")
