#!/usr/bin/env bash
# Installs what building and testing Quarry needs on Debian 12, as root.
# Idempotent: packages already present are left alone, apt is asked once.
set -euo pipefail

packages=(
  cmake make g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  wine wine32:i386 fonts-wine xvfb x11-utils imagemagick
  xdotool tesseract-ocr tesseract-ocr-eng
  fonts-noto-cjk fonts-thai-tlwg fonts-dejavu-core
  googletest libgcab-dev gcab cabextract osslsigncode openssl libssl-dev pkg-config bc
  zip unzip python3-yaml
)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
updated=""

# Installs those of the given packages that are missing; apt is asked once.
install_missing() {
  local missing=() p name arch
  for p in "$@"; do
    name=${p%%:*}
    arch=${p#*:}; [ "$arch" = "$p" ] && arch=""
    if ! dpkg-query -W -f='${Status}' "$name${arch:+:$arch}" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=""
  fi
  export DEBIAN_FRONTEND=noninteractive
  echo "installing: ${missing[*]}"
  [ -n "$updated" ] || { $SUDO apt-get update -q; updated=1; }
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"
# Where this kernel runs no 32-bit program, the Windows tests run as a 64-bit
# build under wine64 (scripts/wine-arch.sh); that needs three packages more.
if [ "$(bash "$(dirname "$0")/wine-arch.sh")" != win32 ]; then
  install_missing wine64 g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix
fi
