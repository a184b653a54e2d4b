#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test both sides;
# with --demo, only what the demo needs (no fuzzer, signing or packaging tools).
# Idempotent: packages already present are skipped, so a second run is quick.
set -euo pipefail
demo_only=0
[ "${1:-}" = --demo ] && demo_only=1

need=()
want() { for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

want cmake ninja-build g++ googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools \
     wine wine64 xvfb xauth xdotool imagemagick xcompmgr x11-xserver-utils \
     fonts-liberation fonts-wqy-zenhei fonts-wine
[ $demo_only = 1 ] || want clang libclang-rt-14-dev osslsigncode openssl zip unzip python3 file
# The product is 32-bit: Wine's 32-bit half runs it.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need+=(wine32:i386)
else
  dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
fi

# A mirror that is syncing serves an index of the wrong size for a minute or
# two; apt then fails the whole update. Tried again before giving up, and an
# update that keeps failing still leaves the indexes that did arrive.
# Without one suite's index (the security suite's i386 list, say) the two
# architectures' versions of a library no longer match; the release's own
# suite has both, so its versions are preferred then.
apt_opts=()
apt_update() {
  local try
  for try in 1 2 3; do
    $SUDO apt-get update -q && return 0
    echo "install-deps: apt-get update failed (attempt $try of 3)"
    [ $try = 3 ] || sleep $((try * 20))
  done
  . /etc/os-release
  echo "install-deps: going on with the package indexes that did arrive, preferring $VERSION_CODENAME's own"
  apt_opts=(-o "APT::Default-Release=$VERSION_CODENAME")
}

if [ ${#need[@]} -gt 0 ]; then
  echo "install-deps: installing ${need[*]}"
  apt_update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${apt_opts[@]}" "${need[@]}"
else
  echo "install-deps: everything present"
fi

# A kernel that refuses 32-bit programs: they run inside a namespace of the
# project's own through qemu-i386 (scripts/i386-namespace). Bookworm's 7.2
# spends about a minute of CPU starting one 32-bit Wine process, 10.0 a
# quarter of a second, so that one package comes from the backports suite of
# the mirror the machine already uses.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  qemu_version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
  if [ -z "$qemu_version" ] || dpkg --compare-versions "$qemu_version" lt 1:10; then
    . /etc/os-release
    # Either format, wherever it is; a machine may have no file of one kind.
    mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.sources /etc/apt/sources.list.d/*.list 2>/dev/null |
      grep -E '^(URIs:|deb )' | grep -oE 'https?://[^ ]*/debian/?' | grep -v security | head -n1 || true)
    mirror=${mirror:-http://deb.debian.org/debian}
    echo "install-deps: this kernel refuses 32-bit programs; qemu-user from $VERSION_CODENAME-backports ($mirror)"
    printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
      "$mirror" "$VERSION_CODENAME" | $SUDO tee /etc/apt/sources.list.d/tbt-backports.sources >/dev/null
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "qemu-user/$VERSION_CODENAME-backports"
  fi
fi
