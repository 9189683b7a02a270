#!/usr/bin/env bash
# Prints which Wine the Windows tests can run under on this machine:
#   win32  wine32 runs: the shipped 32-bit program and its tests
#   win64  only wine64 runs: the 64-bit test build of the same sources
#   none   no Wine process can start
#
# wine32 needs a kernel that runs 32-bit programs. Some kernels are built
# with that switched off ("32-bit emulation disabled" in the kernel log). A
# 32-bit program that runs only through a registered qemu-i386 counts as not
# running: under that emulation the prefix takes a quarter of an hour to make
# and each Wine test minutes, far beyond any CI run.
qemu=/proc/sys/fs/binfmt_misc/qemu-i386
if ! { [ -e "$qemu" ] && grep -qx enabled "$qemu"; } &&
   /usr/lib/wine/wineserver32 --version >/dev/null 2>&1; then
  echo win32
elif /usr/lib/wine/wineserver64 --version >/dev/null 2>&1; then
  echo win64
else
  echo none
fi
