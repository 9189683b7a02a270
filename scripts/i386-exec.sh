#!/usr/bin/env bash
# Runs a 32-bit x86 Linux program: directly where the kernel runs such
# programs (scripts/kernel-runs-i386.sh), otherwise under Debian's qemu-i386
# user-mode emulation, called by name so that nothing needs a binfmt handler.
# QUARRY_I386_RUNNER=qemu takes the emulator even where the kernel could run
# the program itself (to test this path on such a machine).
# CTest's emulator for the 32-bit native tree (cmake/linux-i386.cmake).
here=$(cd "$(dirname "$0")" && pwd)
runner=${QUARRY_I386_RUNNER:-}
if [ -z "$runner" ]; then
  if bash "$here/kernel-runs-i386.sh"; then runner=kernel; else runner=qemu; fi
fi
if [ "$runner" = qemu ]; then
  exec qemu-i386 "$@"
fi
exec "$@"
