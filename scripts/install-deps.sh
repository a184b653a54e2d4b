#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test both sides.
# Idempotent: packages already present are skipped, so a second run is quick.
set -euo pipefail

need=()
want() { for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

want cmake g++ googletest clang libclang-rt-14-dev \
     g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools \
     wine wine64 xvfb xdotool imagemagick xcompmgr x11-xserver-utils \
     fonts-liberation fonts-wqy-zenhei fonts-wine \
     osslsigncode openssl zip unzip python3
# The product is 32-bit: its tests and demo run on the i386 Wine loader.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need+=(wine32:i386)
else
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "install-deps: installing ${need[*]}"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
else
  echo "install-deps: everything present"
fi
