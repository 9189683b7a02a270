#!/usr/bin/env bash
# Installs what building and testing Quarry needs on Debian 12, as root.
# Idempotent: a machine that has every package is left alone and apt (and so
# the network) is never asked.
#
# A package index that cannot be fetched (a mirror serving one list with the
# wrong size, say) does not stop the install: "apt-get update" is tried a few
# times and then the lists it did fetch are used. The script fails only when
# a package it needs is still missing at the end, and names it.
#
# wine32 (and the i386 architecture it needs) is installed only where the
# kernel runs 32-bit programs (scripts/kernel-runs-i386.sh); elsewhere the
# Windows tests run as the 64-bit build under wine64, and the 32-bit pure code
# runs under qemu-i386 user-mode emulation.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

packages=(
  cmake make g++ g++-multilib clang libclang-rt-14-dev qemu-user
  g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine fonts-wine xvfb x11-utils imagemagick
  xdotool tesseract-ocr tesseract-ocr-eng
  fonts-noto-cjk fonts-thai-tlwg fonts-dejavu-core
  googletest libgcab-dev gcab cabextract libmspack-dev osslsigncode openssl libssl-dev pkg-config
  bc zip unzip python3-yaml python3-pefile
)
# Only for a kernel that runs no 32-bit program: the 64-bit test vehicle.
packages64=(wine64 g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
updated=""
update_tries=${QUARRY_APT_UPDATE_TRIES:-3}

is_installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Fetches the package lists once per architecture change. apt-get update
# exits non-zero when any one index failed; after the last try the lists it
# did get are good enough: a package missing from them is named below.
apt_update() {
  [ -n "$updated" ] && return 0
  local try
  for try in $(seq 1 "$update_tries"); do
    if $SUDO apt-get update -q; then
      updated=1
      return 0
    fi
    echo "install-deps: apt-get update failed (try $try of $update_tries)" >&2
    [ "$try" -lt "$update_tries" ] && sleep "${QUARRY_APT_RETRY_SECONDS:-5}"
  done
  echo "install-deps: going on with the package lists that could be fetched" >&2
  updated=1
}

# Installs those of the given packages that are missing. One apt-get for all
# of them; if that fails, one for each, so that one broken package keeps no
# other from being installed. Fails naming every package still missing.
install_missing() {
  local missing=() p still=()
  for p in "$@"; do
    is_installed "$p" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "installing: ${missing[*]}"
  apt_update
  if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    for p in "${missing[@]}"; do
      is_installed "$p" || $SUDO apt-get install -y -q --no-install-recommends "$p" || true
    done
  fi
  for p in "${missing[@]}"; do
    is_installed "$p" || still+=("$p")
  done
  if [ ${#still[@]} -gt 0 ]; then
    echo "install-deps: could not install: ${still[*]}" >&2
    return 1
  fi
}

install_missing "${packages[@]}"
# A wine32 that could not be installed is tried again only after "make
# clean": every "make" asks for the deps, and each try costs a minute of
# network.
wine32_marker=$here/../build/wine32-not-installable
if bash "$here/kernel-runs-i386.sh" && [ ! -e "$wine32_marker" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=""
  fi
  # wine32 tests the shipped build itself, but the tests do not need it: if
  # it cannot be installed (its i386 libraries must match the amd64 ones, so
  # one stale index is enough), the 64-bit vehicle below takes its place.
  if ! install_missing wine32:i386; then
    echo "install-deps: going on without wine32: the Windows tests will run under wine64" >&2
    mkdir -p "$(dirname "$wine32_marker")" && date >"$wine32_marker"
  fi
fi
# Where wine32 does not run, the Windows tests run as a 64-bit build under
# wine64 (scripts/wine-arch.sh).
if [ "$(bash "$here/wine-arch.sh")" != win32 ]; then
  install_missing "${packages64[@]}"
fi
