# The portable code as a 32-bit Linux program (gcc -m32, Debian's
# gcc-multilib and g++-multilib), so that the control PC's 32-bit sizes
# (size_t, long, pointers, time_t) and alignment are exercised by the tests
# on machines whose wine cannot run 32-bit Windows programs. The tests run
# under qemu-i386-static, named here: some kernels run no 32-bit programs,
# and binfmt_misc need not be mounted.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Only the 32-bit libraries of gcc-multilib; never the build machine's
# 64-bit ones.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386-static)
