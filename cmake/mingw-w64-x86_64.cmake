# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (g++ 12 with
# POSIX threads, for std::thread), with the static zlib of
# libz-mingw-w64-dev. Programs are linked statically, so quarn-scan.exe
# needs no DLL of its own; tests run under wine64 through CTest's emulator.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARN_MINGW_TRIPLET}-windres)

# Headers and libraries only from the mingw-w64 tree: the build machine's
# glibc headers must never mix in. Programs (the compilers, windres) come
# from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUARN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No libgcc, libstdc++ or winpthread DLLs beside the program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# wine64 runs the test programs; Debian installs it outside PATH.
find_program(QUARN_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(QUARN_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUARN_WINE64})
endif()
