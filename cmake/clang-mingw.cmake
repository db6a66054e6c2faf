# The compiler and linker of both Windows builds, included by cmake/toolchain-mingw-<arch>.cmake
# once it has set TARNIX_TRIPLE: Debian's clang 14 and lld 14, against the mingw-w64 headers and
# the posix-threaded libstdc++ of Debian's mingw-w64 gcc (the -win32 thread model has no
# std::mutex, which GoogleTest needs). lld writes the PDBs that Windows debuggers read.
set(CMAKE_C_COMPILER   clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET   ${TARNIX_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${TARNIX_TRIPLE})
set(CMAKE_AR     llvm-ar-14)
set(CMAKE_RANLIB llvm-ranlib-14)
# GNU windres, which the DLL's resources have always gone through; clang preprocesses them (the
# output is byte for byte what gcc's preprocessing gave).
set(CMAKE_RC_COMPILER ${TARNIX_TRIPLE}-windres)
set(CMAKE_RC_FLAGS_INIT
  "--preprocessor=clang-14 --preprocessor-arg=--target=${TARNIX_TRIPLE} --preprocessor-arg=-E --preprocessor-arg=-xc --preprocessor-arg=-DRC_INVOKED")

# clang does not take gcc's folder for a gcc installation (12-posix is no version number to
# it), so libstdc++'s headers and libraries are named here, and -B makes the driver link gcc's
# crtbegin.o and crtend.o. Those register the DWARF unwind tables with libgcc's unwinder, which
# x86 uses: without them the driver takes mingw-w64's stand-ins, which register nothing, and
# the first exception thrown ends the process. libstdc++ of the posix model needs winpthread.
set(TARNIX_GCC_DIR /usr/lib/gcc/${TARNIX_TRIPLE}/12-posix)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES
  ${TARNIX_GCC_DIR}/include/c++ ${TARNIX_GCC_DIR}/include/c++/${TARNIX_TRIPLE}
  ${TARNIX_GCC_DIR}/include/c++/backward)
set(TARNIX_LINK_INIT "-fuse-ld=lld -B${TARNIX_GCC_DIR} -L${TARNIX_GCC_DIR} -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT    "${TARNIX_LINK_INIT}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${TARNIX_LINK_INIT}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${TARNIX_LINK_INIT}")

set(CMAKE_FIND_ROOT_PATH /usr/${TARNIX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
