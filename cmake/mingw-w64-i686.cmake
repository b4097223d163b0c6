# Cross compilation for 32-bit Windows (the 32-bit tills) with MinGW-w64 on
# Debian (package g++-mingw-w64-i686-posix):
#   cmake -S <source> -B <build> -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(OVIX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
