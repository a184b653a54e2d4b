#!/usr/bin/env bash
# The installs' look-up of a suite the machine's sources lack (install-deps.sh
# takes qemu-user from backports that way), against the real apt with a
# configuration of this test's own (sources, lists, cache and dpkg's status in
# a scratch folder; dpkg itself replaced by a recorder) and a local file:
# mirror. Whatever the mirror holds, apt must update afterwards as it did
# before, and a failed look-up must leave nothing in apt's sources.
# Prints each row and "N passed, M failed"; exit 0 when all passed.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
t=$(mktemp -d)
trap 'rm -rf "$t"' EXIT
chmod 755 "$t"  # apt reads the mirror as its own user
passed=0 failed=0
check() {  # WHAT COMMAND...
  local what=$1
  shift
  if "$@" >>"$t/checks.log" 2>&1; then passed=$((passed + 1)); else echo "FAILED: $what"; failed=$((failed + 1)); fi
}
not() { ! "$@"; }

# --- a mirror: SUITE holding PACKAGE=VERSION..., or no suite at all --------------
mirror=$t/mirror/debian
suite() {  # SUITE [PACKAGE=VERSION...], in the archive $at (default: the mirror)
  local mirror=${at:-$mirror}
  local name=$1 dir=$mirror/dists/$1 spec
  shift
  mkdir -p "$dir/main/binary-amd64" "$mirror/pool"
  : >"$dir/main/binary-amd64/Packages"
  for spec in "$@"; do
    local pkg=${spec%%=*} version=${spec#*=} deb
    deb=pool/${pkg}_${version#*:}_$name.deb
    mkdir -p "$t/deb/DEBIAN"
    printf 'Package: %s\nVersion: %s\nArchitecture: amd64\nMaintainer: test <t@example.org>\nDescription: stand-in\n' \
      "$pkg" "$version" >"$t/deb/DEBIAN/control"
    dpkg-deb -Zgzip --build "$t/deb" "$mirror/$deb" >/dev/null || return 1
    rm -rf "$t/deb"
    printf 'Package: %s\nVersion: %s\nArchitecture: amd64\nFilename: %s\nSize: %s\nSHA256: %s\nDescription: stand-in\n\n' \
      "$pkg" "$version" "$deb" "$(stat -c %s "$mirror/$deb")" "$(sha256sum <"$mirror/$deb" | cut -c1-64)" \
      >>"$dir/main/binary-amd64/Packages"
  done
  local p=main/binary-amd64/Packages
  printf 'Suite: %s\nCodename: %s\nDate: %s\nArchitectures: amd64\nComponents: main\nSHA256:\n %s %s %s\n' \
    "$name" "$name" "$(LC_ALL=C date -u -R)" "$(sha256sum <"$dir/$p" | cut -c1-64)" "$(stat -c %s "$dir/$p")" "$p" \
    >"$dir/Release"
}

# --- apt of this test's own -----------------------------------------------------------
mkdir -p "$t/etc/sources.list.d" "$t/etc/apt.conf.d" "$t/etc/preferences.d" "$t/state/lists/partial" "$t/cache/archives/partial" \
  "$t/dpkg/updates" "$t/log"
: >"$t/dpkg/status"
cat >"$t/dpkg-recorder" <<REC
#!/bin/sh
case "\$1" in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) ;;
  *) echo "\$*" >>"$t/dpkg.log" ;;
esac
REC
chmod +x "$t/dpkg-recorder"
cat >"$t/apt.conf" <<CONF
Dir::Etc "$t/etc";
Dir::Etc::sourcelist "sources.list";
Dir::Etc::sourceparts "sources.list.d";
Dir::State "$t/state";
Dir::State::status "$t/dpkg/status";
Dir::Cache "$t/cache";
Dir::Log "$t/log";
Dir::Bin::dpkg "$t/dpkg-recorder";
APT::Architecture "amd64";
APT::Architectures { "amd64"; };
Acquire::Languages "none";
// Inside scripts/i386-namespace no user can be switched to.
APT::Sandbox::User "root";
// The test's mirror is not signed.
Acquire::AllowInsecureRepositories "true";
APT::Get::AllowUnauthenticated "true";
CONF
export APT_CONFIG=$t/apt.conf
# The machine's own sources: the security archive named first, as some machines have it.
suite bookworm base-files=12.4
at=$t/mirror/debian-security suite bookworm-security
cat >"$t/etc/sources.list" <<SRC
deb file:$t/mirror/debian-security bookworm-security main
deb file:$mirror bookworm main
SRC
apt-get update -q >"$t/update.log" 2>&1 || { cat "$t/update.log"; echo "the test's own apt does not update"; exit 1; }

. "$repo/scripts/apt-env.sh"
check "the mirror is the machine's Debian archive, not its security one" \
  test "$(tbt_debian_mirror)" = "file:$mirror"

# What apt's sources and lists hold, to compare before and after.
state() { (cd "$t" && find etc state/lists -type f ! -name lock | LC_ALL=C sort | xargs -r sha256sum); }
install() {  # the look-up as install-deps makes it
  tbt_apt_install_from_suite "file:$mirror" bookworm-backports /usr/share/keyrings/debian-archive-keyring.gpg \
    qemu-user 1:10 >"$t/install.log" 2>&1
}
refused() {  # WHY: the install fails, names what to do, and leaves apt as it was
  local before
  before=$(state)
  : >"$t/dpkg.log"
  check "$1: refused" not install
  check "$1: the message names the package and the suite" \
    grep -q 'Install qemu-user 1:10 or later by hand.*(bookworm-backports of a Debian mirror' "$t/install.log"
  check "$1: apt's sources and lists as they were" test "$before" = "$(state)"
  check "$1: nothing was installed" test ! -s "$t/dpkg.log"
  check "$1: apt still updates" apt-get update -q
}

refused "a mirror without the suite"
suite bookworm-backports hello=2.10
refused "the suite without the package"
rm -rf "$mirror/dists/bookworm-backports"
suite bookworm-backports qemu-user=1:7.2+dfsg-7
refused "the suite with an older version"

# A source left by an earlier version of these scripts, for a suite the
# mirror lacks, broke every update: a failed look-up takes it away.
rm -rf "$mirror/dists/bookworm-backports"
printf 'Types: deb\nURIs: file:%s\nSuites: bookworm-backports\nComponents: main\n' "$mirror" \
  >"$t/etc/sources.list.d/tbt-backports.sources"
check "an earlier version's source breaks the update" not apt-get update -q
install
check "an earlier version's source is taken away" test ! -e "$t/etc/sources.list.d/tbt-backports.sources"
check "then apt updates again" apt-get update -q

# The suite holds it: its source is kept, and the package installed from it.
suite bookworm-backports qemu-user=1:10.0.2+ds-1~bpo12+1
: >"$t/dpkg.log"
check "the suite holding the package: installed" install
check "from that suite" grep -q 'qemu-user_10.0.2+ds-1~bpo12+1_bookworm-backports.deb' "$t/dpkg.log"
check "its source is kept" grep -qx 'Suites: bookworm-backports' "$t/etc/sources.list.d/tbt-backports.sources"
check "apt still updates" apt-get update -q
check "and now finds it" bash -c "apt-cache policy qemu-user | grep -q 'Candidate: 1:10.0.2'"

[ $failed = 0 ] || { echo "--- last look-up:"; cat "$t/install.log"; }
echo "$passed passed, $failed failed"
[ $failed = 0 ]
