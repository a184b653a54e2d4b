#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks; nothing more for what is there.
# Idempotent: packages already present are skipped, so a second run is quick.
#
#   scripts/install-deps.sh            everything: builds, every suite, fuzzing, the release
#   scripts/install-deps.sh --demo     what scripts/demo.sh needs
#   scripts/install-deps.sh --e2e      the demo's and what scripts/e2e.sh needs beside it
#   scripts/install-deps.sh --package  what scripts/package.sh needs (no Wine)
#
# Made for Debian 12 (bookworm) on amd64; elsewhere apt names what it cannot
# find and this ends, leaving apt's sources as they were. Inside the namespace
# of scripts/i386-namespace nothing can be installed: what is missing is named,
# to be installed from outside.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/apt-env.sh"
mode=${1:-all}
case $mode in
  all | --demo | --e2e | --package) ;;
  *) echo "usage: scripts/install-deps.sh [--demo | --e2e | --package]" >&2; exit 2 ;;
esac

need=()
want() { for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done; }

want cmake ninja-build g++ googletest g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools
runs_wine=1
case $mode in
  --package) runs_wine=0 ;;
  --demo) ;;
  *) want file zip unzip python3 osslsigncode ;;
esac
case $mode in all | --package) want osslsigncode openssl zip unzip python3 ;; esac
[ "$mode" != all ] || want clang libclang-rt-14-dev
if [ $runs_wine = 1 ]; then
  want wine wine64 xvfb xauth xdotool imagemagick xcompmgr x11-xserver-utils \
    fonts-liberation fonts-wqy-zenhei fonts-wine
  # The product is 32-bit: Wine's 32-bit half runs it.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    [ -n "${TBT_I386_NS:-}" ] || $TBT_SUDO dpkg --add-architecture i386
    need+=(wine32:i386)
  else
    dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32:i386)
  fi
fi
mapfile -t need < <(printf '%s\n' ${need[@]+"${need[@]}"} | awk 'NF && !seen[$0]++')

# Inside the namespace root is a mapped user that apt cannot install as.
if [ -n "${TBT_I386_NS:-}" ] && [ ${#need[@]} -gt 0 ]; then
  echo "install-deps: missing ${need[*]}; nothing can be installed inside the namespace:" \
    "run scripts/install-deps.sh ${mode#all} outside it first" >&2
  exit 1
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
    $TBT_SUDO apt-get update -q && return 0
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
  if ! DEBIAN_FRONTEND=noninteractive $TBT_SUDO apt-get install -y -q --no-install-recommends \
    ${apt_opts[@]+"${apt_opts[@]}"} "${need[@]}"; then
    # What apt says then ("held broken packages") hides the cause.
    [ ${#apt_opts[@]} = 0 ] || echo "install-deps: without the index that did not arrive, an amd64 library" \
      "installed from its suite can be newer than any i386 one apt sees, and the two must match. Run this" \
      "again once apt-get update succeeds (the mirror has synced)." >&2
    exit 1
  fi
else
  echo "install-deps: everything present"
fi

# A kernel that refuses 32-bit programs: they run inside a namespace of the
# project's own through qemu-i386 (scripts/i386-namespace). Bookworm's 7.2
# spends about a minute of CPU starting one 32-bit Wine process, 10.0 a
# quarter of a second, so that one package comes from the backports suite of
# the mirror the machine already uses, if it has one holding it.
if [ $runs_wine = 1 ] && [ -z "${TBT_I386_NS:-}" ] && ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  qemu_version=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null || true)
  if [ -z "$qemu_version" ] || dpkg --compare-versions "$qemu_version" lt 1:10; then
    . /etc/os-release
    echo "install-deps: this kernel refuses 32-bit programs; qemu-user 10 or later runs them"
    tbt_apt_install_from_suite "$(tbt_debian_mirror)" "$VERSION_CODENAME-backports" \
      /usr/share/keyrings/debian-archive-keyring.gpg qemu-user 1:10 || exit 1
  fi
fi
