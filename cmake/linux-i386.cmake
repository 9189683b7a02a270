# The pure code as a 32-bit Linux program (Debian's g++-multilib), so that
# what only a 32-bit build can get wrong (a 64-bit size or offset cut to a
# 32-bit size_t) is tested off Windows. Its programs run through
# scripts/i386-exec.sh: directly where the kernel runs 32-bit programs, under
# qemu-i386 user-mode emulation where it does not.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/i386-exec.sh)
