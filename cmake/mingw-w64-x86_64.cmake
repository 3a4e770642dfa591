# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (packages
# g++-mingw-w64-x86-64-posix, wine64). The posix thread model gives the C++
# runtime the std::thread and std::mutex that protobuf needs.
#
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake \
#     -DCMAKE_PREFIX_PATH=<protobuf built for mingw>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GCUPROTO_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GCUPROTO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GCUPROTO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${GCUPROTO_MINGW_TRIPLET}-windres)

# Libraries, headers and packages come from the mingw sysroot and the given
# prefixes only, never from the build machine's /usr; programs run at build
# time (protoc, our protoc plugin) are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${GCUPROTO_MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and other programs built here run under wine.
find_program(GCUPROTO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(GCUPROTO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${GCUPROTO_WINE}")
endif()
