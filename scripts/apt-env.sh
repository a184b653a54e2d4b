# shellcheck shell=bash
# Sourced by install-deps.sh and new-machine-check.sh: what apt's sources name
# on this machine, and one package from a suite they lack, installed without
# ever leaving apt unable to update. apt's own folders are read from its
# configuration, so a private APT_CONFIG is honoured throughout.

TBT_SUDO=""
[ "$(id -u)" -eq 0 ] || TBT_SUDO="sudo"

tbt_apt_dirs() {  # sets TBT_APT_LIST, TBT_APT_PARTS (with its trailing /)
  eval "$(apt-config shell TBT_APT_LIST Dir::Etc::sourcelist/f TBT_APT_PARTS Dir::Etc::sourceparts/d)"
}

# The first Debian archive the machine's sources name, in either format (the
# security archive is another one); deb.debian.org's when they name none.
tbt_debian_mirror() {
  tbt_apt_dirs
  local uri
  uri=$(cat "$TBT_APT_LIST" "$TBT_APT_PARTS"*.list "$TBT_APT_PARTS"*.sources 2>/dev/null |
    grep -E '^[[:space:]]*(URIs:|deb )' | tr -s ' \t' '\n\n' | grep -E '^(https?|file):/+.*/debian/?$' | head -n1 || true)
  uri=${uri%/}
  printf '%s\n' "${uri:-http://deb.debian.org/debian}"
}

# Installs PACKAGE at MIN_VERSION or later from SUITE of MIRROR, a suite the
# machine's sources may not name (backports, say). The suite is first read
# through a source and a list folder that exist only for that look-up; apt's
# sources get a file for it only once the suite is known
# to hold the package at that version, and lose it again if the install then
# fails. Whatever fails, apt updates afterwards as it did before, and the
# message names the package and the suite to get it from by hand. Returns 1
# then.
tbt_apt_install_from_suite() {  # MIRROR SUITE KEYRING PACKAGE MIN_VERSION
  local mirror=$1 suite=$2 keyring=$3 pkg=$4 min=$5
  local tmp kept version rc=1
  tbt_apt_dirs
  # bookworm-backports: tbt-backports.sources, the name earlier versions of
  # these scripts wrote, so that a file of theirs is replaced or taken away.
  kept="${TBT_APT_PARTS}tbt-${suite##*-}.sources"
  tmp=$(mktemp -d) || return 1
  chmod 755 "$tmp"  # apt's downloads run as its own user
  mkdir -p "$tmp/parts" "$tmp/lists/partial" && : >"$tmp/none.list" &&
    printf 'Types: deb\nURIs: %s\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
      "$mirror" "$suite" "$keyring" >"$tmp/parts/tbt-$suite.sources" || { rm -rf "$tmp"; return 1; }
  # This suite alone, into lists of its own: the machine's lists, cache and
  # sources are not touched by the look-up.
  local only=(-o "Dir::Etc::sourcelist=$tmp/none.list" -o "Dir::Etc::sourceparts=$tmp/parts"
    -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Get::List-Cleanup=0)
  local lookup=("${only[@]}" -o "Dir::State::Lists=$tmp/lists")
  echo "apt: looking for $pkg $min or later in $suite of $mirror"
  if ! $TBT_SUDO apt-get "${lookup[@]}" update -q >"$tmp/lookup.log" 2>&1; then
    echo "apt: $mirror has no suite $suite (or it could not be read):"
    grep -E '^(E|W):' "$tmp/lookup.log" | head -n 5 | sed 's/^/apt: | /'
  else
    version=$(apt-cache "${lookup[@]}" madison "$pkg" 2>/dev/null | grep -F " $suite/" |
      awk -F'|' '{ gsub(/ /, "", $2); print $2 }' | sort -V | tail -n1 || true)
    if [ -z "$version" ]; then
      echo "apt: $suite of $mirror holds no $pkg"
    elif dpkg --compare-versions "$version" lt "$min"; then
      echo "apt: $suite of $mirror holds $pkg $version only"
    # Known good: kept among the machine's sources, its lists fetched for
    # apt's own folder, then the install. Taken away again on any failure.
    elif ! $TBT_SUDO cp "$tmp/parts/tbt-$suite.sources" "$kept"; then
      echo "apt: cannot write $kept"
    elif ! $TBT_SUDO apt-get "${only[@]}" update -q >"$tmp/update.log" 2>&1; then
      echo "apt: $suite could not be read again:"
      grep -E '^(E|W):' "$tmp/update.log" | head -n 5 | sed 's/^/apt: | /'
    elif ! DEBIAN_FRONTEND=noninteractive $TBT_SUDO apt-get install -y -q --no-install-recommends "$pkg/$suite"; then
      echo "apt: the install of $pkg $version from $suite failed"
    else
      rc=0
    fi
  fi
  if [ $rc != 0 ]; then
    [ ! -e "$kept" ] || $TBT_SUDO rm -f "$kept"
    echo "apt: nothing of $suite was kept in apt's sources. Install $pkg $min or later by hand, from a" \
      "suite that holds it ($suite of a Debian mirror, where this release has one), then run this again."
  fi
  rm -rf "$tmp"
  return $rc
}
