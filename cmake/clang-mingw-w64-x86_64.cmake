# A second compiler for the same target: Debian's clang, aimed at 64-bit
# Windows with the mingw-w64 headers and the posix-thread libraries of
# Debian's mingw-w64 GCC (clang finds their C runtime, not their C++
# library, so its include folders are named here).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   ${_triple})
set(CMAKE_CXX_COMPILER_TARGET ${_triple})
set(CMAKE_RC_COMPILER  ${_triple}-windres)

file(GLOB _gcc_dirs /usr/lib/gcc/${_triple}/*-posix)
list(GET _gcc_dirs 0 _gcc)
set(_cxx ${_gcc}/include/c++)
set(CMAKE_CXX_FLAGS_INIT "-isystem ${_cxx} -isystem ${_cxx}/${_triple} -isystem ${_cxx}/backward")
# GNU ld from binutils-mingw-w64; -pthread brings winpthreads, which the
# posix-thread libstdc++ and libgcc need.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=/usr/bin/${_triple}-ld -L${_gcc} -pthread")

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
