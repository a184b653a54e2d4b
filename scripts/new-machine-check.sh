#!/usr/bin/env bash
# README's two set-up commands on a new machine, proven: builds a minimal
# Debian root (debootstrap --variant=minbase, from the Debian mirror this
# machine's own apt sources name), gives it only what a new machine of the
# project's kind has (git, g++, make, cmake, GoogleTest and GoogleMock,
# clang-format, clang-tidy, python3, at the release's own versions; no
# recommended packages), puts a clone of this checkout's HEAD in
# /root/TbtFwUpdate, and runs scripts/demo.sh, then scripts/test-all.sh there
# as root with a clean environment, as a new user would. Prints each command's time, its last lines and test-all's
# "N passed, M failed".
#
#   scripts/new-machine-check.sh [--dir DIR] [--keep] [--suite CODENAME]
#
# DIR: where the root is built (default: a new folder under /var/tmp, named
# on the console); it must not exist yet. It is removed at the end unless
# --keep. CODENAME: the Debian release (default: this machine's).
#
# Costs 30 to 40 min on 2 cores, 15 GB of disk while it runs and some 4 GB of
# downloads. Needs root and debootstrap, which it installs when missing (the
# one change it may make to the host's packages). Everything is mounted in a
# private mount namespace and runs in a PID namespace of its own: when it
# ends nothing stays mounted and no process of the root is left. The
# commands run in that mount namespace pivoted onto the root, not in a
# chroot, so that scripts/i386-namespace can still make its user namespace.
# Full logs: build/new-machine-check/ of this checkout.
# Exit 0 when both commands pass, 1 when one fails, 2 when this machine
# cannot build such a root (the reason is printed).
set -uo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
repo=$(cd "$(dirname "$self")/.." && pwd)

usage() { echo "usage: scripts/new-machine-check.sh [--dir DIR] [--keep] [--suite CODENAME]" >&2; exit 2; }
dir="" keep=0 suite=""
while [ $# -gt 0 ]; do
  case $1 in
    --dir) [ $# -ge 2 ] || usage; dir=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --suite) [ $# -ge 2 ] || usage; suite=$2; shift 2 ;;
    *) usage ;;
  esac
done

say() { echo "new-machine-check: $*"; }
cannot() {
  say "this machine cannot build a minimal Debian root: $*"
  exit 2
}
mmss() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }

# --- can this machine build one? -----------------------------------------------------
[ "$(id -u)" -eq 0 ] || cannot "it needs root (debootstrap, mounts and namespaces)"
[ -r /etc/os-release ] && command -v apt-get >/dev/null || cannot "no apt: not a Debian system"
. /etc/os-release
suite=${suite:-${VERSION_CODENAME:-}}
[ -n "$suite" ] || cannot "no release codename in /etc/os-release (give --suite)"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[ -f "$keyring" ] || cannot "no Debian archive keyring ($keyring) to check the mirror with"
unshare --mount --pid --fork --propagation private true 2>/dev/null ||
  cannot "no private mount and PID namespace can be made here (unshare --mount --pid failed)"
command -v pivot_root >/dev/null || cannot "no pivot_root (util-linux)"
. "$repo/scripts/apt-env.sh"
tbt_apt_dirs
mirror=$(tbt_debian_mirror)
security=$(cat "$TBT_APT_LIST" "$TBT_APT_PARTS"*.list "$TBT_APT_PARTS"*.sources 2>/dev/null |
  grep -E '^[[:space:]]*(URIs:|deb )' | tr -s ' \t' '\n\n' | grep -E '^(https?|file):/+.*/debian-security/?$' |
  head -n1 || true)
security=${security:-http://deb.debian.org/debian-security}
if ! command -v debootstrap >/dev/null; then
  say "installing debootstrap on this machine"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 \
    debootstrap >/dev/null || cannot "debootstrap is missing and could not be installed"
fi
[ -e "/usr/share/debootstrap/scripts/$suite" ] || cannot "debootstrap does not know the release $suite"

if [ -z "$dir" ]; then
  dir=$(mktemp -d /var/tmp/tbt-new-machine.XXXXXX) || cannot "no folder under /var/tmp"
else
  [ ! -e "$dir" ] || cannot "$dir exists: give a folder that does not (it is removed at the end)"
  mkdir -p "$dir" || cannot "cannot make $dir"
fi
dir=$(cd "$dir" && pwd)
free_kb=$(df -Pk "$dir" | awk 'NR == 2 { print $4 }')
if [ "${free_kb:-0}" -lt $((15 * 1024 * 1024)) ]; then
  rmdir "$dir"
  cannot "$(df -h "$(dirname "$dir")" | awk 'NR == 2 { print $4 }') free beside $dir, 15 GB are needed"
fi
logs=$repo/build/new-machine-check
rm -rf "$logs" && mkdir -p "$logs"

# The root goes at the end (unless kept): first whatever still runs in it,
# and never while anything is mounted in it.
child=""
cleanup() {
  if [ -n "$child" ]; then
    # unshare ignores TERM while its child runs; killed, it takes the
    # namespace's first process, and so every process in it, along.
    kill -KILL "$child" 2>/dev/null
    wait "$child" 2>/dev/null
  fi
  if findmnt -rn -o TARGET | grep -qF -- "$dir"; then
    say "something is still mounted under $dir: it is kept; unmount it, then remove the folder"
    return
  fi
  if [ $keep = 1 ]; then
    say "the root is kept in $dir"
  else
    rm -rf --one-file-system -- "$dir" && say "removed $dir"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
say "root in $dir ($suite from $mirror); logs in $logs"

# Runs a command in the root: a private mount and PID namespace pivoted onto
# it, with /proc, /sys, /dev and a /dev/shm of its own, a clean environment,
# as root. Every process it starts ends with it.
enter_root() {  # DIR COMMAND...
  local root=$1
  shift
  mount --bind "$root" "$root" &&
    mount -t proc proc "$root/proc" &&
    mount --rbind /sys "$root/sys" &&
    mount --rbind /dev "$root/dev" &&
    mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm" &&
    mount -t tmpfs -o mode=755,nosuid,nodev tmpfs "$root/run" || return 1
  cd "$root" && mkdir -p .host && pivot_root . .host && cd / && umount -l /.host && rmdir /.host || return 1
  exec env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}
in_root=(unshare --mount --pid --fork --kill-child --propagation private --
  bash -c "$(declare -f enter_root); enter_root \"\$@\"" _ "$dir")
# Runs a program in the background, its output to LOG, and waits: a signal
# then reaches this script's trap at once, which ends the program before the
# root goes.
waited() {  # LOG PROGRAM...
  local log=$1
  shift
  "$@" </dev/null >"$log" 2>&1 &
  child=$!
  wait "$child"
  local rc=$?
  child=""
  return $rc
}

step() {  # NAME LOG COMMAND...: a set-up step; its log's tail when it fails
  local name=$1 log=$2 started=$SECONDS
  shift 2
  if waited "$log" "$@"; then
    say "$name: $(mmss $((SECONDS - started)))"
    return 0
  fi
  say "$name failed after $(mmss $((SECONDS - started))):"
  tail -n 20 "$log" | sed 's/^/  | /'
  return 1
}

# --- the root --------------------------------------------------------------------------
# debootstrap's own mounts and processes stay in namespaces of their own,
# gone when it ends.
step "debootstrap --variant=minbase $suite" "$logs/debootstrap.log" \
  unshare --mount --pid --fork --kill-child --propagation private -- debootstrap --variant=minbase --keyring="$keyring" \
  "$suite" "$dir" "$mirror" || cannot "debootstrap could not build $suite from $mirror"
# Sources as a Debian machine has them; the host's name service.
rm -f "$dir/etc/apt/sources.list"
printf 'Types: deb\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: %s\n\nTypes: deb\nURIs: %s\nSuites: %s-security\nComponents: main\nSigned-By: %s\n' \
  "$mirror" "$suite" "$suite" "$keyring" "$security" "$suite" "$keyring" >"$dir/etc/apt/sources.list.d/debian.sources"
cp -L /etc/resolv.conf "$dir/etc/resolv.conf" && cp -L /etc/hosts "$dir/etc/hosts" ||
  cannot "cannot give the root this machine's name service"
# A new machine of the project's kind holds its release's own versions of
# these (none from the security or updates suites): the root's come from that
# suite too, while its sources name all three, as the machine's do. From
# another suite an amd64 library can be newer than any i386 one a mirror
# serves, which wine32 must match.
new_machine=(git g++ make cmake googletest libgtest-dev libgmock-dev clang-format clang-tidy python3)
step "what a new machine has (${new_machine[*]})" "$logs/new-machine-packages.log" "${in_root[@]}" \
  env DEBIAN_FRONTEND=noninteractive sh -c 'suite=$1; shift; apt-get update -q || true
    exec apt-get install -y -q --no-install-recommends -t "$suite" "$@"' _ "$suite" "${new_machine[@]}" ||
  cannot "the root could not get what a new machine has"
waited /dev/null "${in_root[@]}" unshare -Urm true && userns="can" || userns="cannot"
say "inside the root, a user namespace (scripts/i386-namespace's) $userns be made"

head=$(git -C "$repo" rev-parse HEAD)
step "a clone of $head" "$logs/clone.log" git clone --no-hardlinks "$repo" "$dir/root/TbtFwUpdate" || exit 1
[ -z "$(git -C "$repo" status --porcelain --untracked-files=no)" ] ||
  say "(the checkout has changes not committed: the clone holds HEAD only)"

# --- README's two commands --------------------------------------------------------------
failed=0 summary=()
for cmd in scripts/demo.sh scripts/test-all.sh; do
  name=$(basename "$cmd" .sh)
  echo
  say "=== $cmd"
  started=$SECONDS
  waited "$logs/$name.log" "${in_root[@]}" bash -c 'cd /root/TbtFwUpdate && "$0"' "$cmd"
  rc=$?
  took=$(mmss $((SECONDS - started)))
  tail -n 25 "$logs/$name.log" | sed 's/^/  | /'
  tally=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$logs/$name.log" | tail -n1)
  if [ $rc = 0 ]; then result=ok; else result="FAILED (exit $rc)"; failed=1; fi
  summary+=("$cmd: $result in $took${tally:+, $tally}")
  say "$cmd: $result in $took${tally:+; $tally}"
done
echo
say "summary (root $suite minbase, HEAD $head):"
printf '  %s\n' "${summary[@]}"
exit $failed
