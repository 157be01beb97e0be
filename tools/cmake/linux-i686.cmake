# The portable codec core and its tests as 32-bit x86 Linux programs (gcc
# -m32, linked statically), run through qemu's user-mode emulator: on a
# machine whose kernel refuses 32-bit programs, where no 32-bit Windows
# program can start, this is how the core's 32-bit code (its own assembly,
# the register-starved scalar paths, the SSE2 and AVX2 kernels) is still
# checked bit-exact. The flags are the 32-bit Windows build's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-m32 -msse2 -mfpmath=sse")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/qemu-i386-static)
