# Cross-compiling for aarch64 Linux on another machine, with Debian's cross
# gcc 12 (g++-aarch64-linux-gnu) and its aarch64 C library (Debian 12's
# glibc 2.36, older than any tree's, so a wheel's symbol versions stay low).
#
# KESTRAND_AARCH64_TREE (environment): an arm64 Debian tree. Programs built
# here run under qemu with the tree as their root for libraries, which is how
# CTest and GoogleTest's discovery run the C++ tests; the tree's libpython
# links the test programs. Python's headers for the module come from
# KESTRAND_AARCH64_PYTHON_INCLUDE (see tests/arm64/cross.sh).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc-12)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++-12)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

if(DEFINED ENV{KESTRAND_AARCH64_TREE})
  set(KESTRAND_AARCH64_TREE "$ENV{KESTRAND_AARCH64_TREE}")
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64-static -L "${KESTRAND_AARCH64_TREE}")
  # The tree's libpython needs a newer C library than the cross compiler's:
  # its references are resolved when the program runs in the tree.
  set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-Wl,--allow-shlib-undefined -Wl,-rpath-link,${KESTRAND_AARCH64_TREE}/usr/lib/aarch64-linux-gnu")
endif()
