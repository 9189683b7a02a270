#!/usr/bin/env bash
# Exits 0 when this kernel runs 32-bit x86 programs itself, 1 when it does not.
#
# Some kernels are built with IA-32 emulation off: a 32-bit program then fails
# with "Exec format error", and no Wine of any version can run the shipped
# 32-bit quarry.exe. The test is a 93-byte static 32-bit program carried here
# (an ELF header, one program header, and "xor ebx,ebx; mov bl,7; xor eax,eax;
# inc eax; int 0x80", that is exit(7)), so it needs no i386 package. A kernel
# that runs it only through a registered qemu-i386 binfmt handler counts as not
# running it: under that emulation Wine is far too slow to test with.
set -u
qemu=/proc/sys/fs/binfmt_misc/qemu-i386
if [ -e "$qemu" ] && grep -qx enabled "$qemu"; then
  exit 1
fi
probe=$(mktemp)
trap 'rm -f "$probe"' EXIT
# ELF header: identity; executable, i386, version 1, entry 0x08048054,
# program headers at 52; no section headers; 52-byte header, one 32-byte
# program header.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$probe"
printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' >>"$probe"
printf '\x00\x00\x00\x00' >>"$probe"
# Program header: one loadable segment, the whole file at 0x08048000, r-x.
printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' >>"$probe"
printf '\x5d\x00\x00\x00\x5d\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' >>"$probe"
# The code: exit(7) through int 0x80.
printf '\x31\xdb\xb3\x07\x31\xc0\x40\xcd\x80' >>"$probe"
chmod +x "$probe"
"$probe" 2>/dev/null
[ $? -eq 7 ]
