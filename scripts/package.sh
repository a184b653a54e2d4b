#!/usr/bin/env bash
# The release package: builds the product and writes
# dist/TbtFwUpdate-<version>.zip holding
#   TbtFwUpdate.exe       signed when a certificate is given (see below)
#   data\<image>.bin      each image named on the command line
#   data\Update.ini       every text of the window
#   README-deploy.txt     the README's "Deploying" section, as plain text
#   SHA256SUMS            the SHA-256 of each file above, as sha256sum writes it
# The version is the one the exe's version resource carries.
#
#   scripts/package.sh IMAGE.bin...
#
# Signing (Authenticode, SHA-256 digest, with osslsigncode): SIGN_PFX names a
# PKCS#12 file with the code-signing certificate and its key, SIGN_PASSWORD
# holds its password. The signature is verified before zipping, against
# SIGN_CAFILE (default: the system's CA bundle; give the certificate itself
# for a self-signed one). SIGN_TIMESTAMP_URL, when set, has the signature
# timestamped so that it outlives the certificate.
# Without SIGN_PFX the exe is packaged unsigned, and the script says so.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

die() { echo "package: $*" >&2; exit 1; }
[ $# -ge 1 ] || { echo "usage: scripts/package.sh IMAGE.bin..." >&2; exit 2; }

# Images first: a typo must not cost a build. Names are kept as they are in
# data\, so two images of one name, or names the program would not pick up,
# are refused rather than silently shipped.
declare -A seen=()
for image in "$@"; do
  [ -f "$image" ] && [ -r "$image" ] || die "not a readable file: $image"
  [ -s "$image" ] || die "empty image: $image"
  name=$(basename -- "$image")
  shopt -s nocasematch
  [[ "$name" == *.bin ]] || die "the program loads data\\*.bin only: $image"
  shopt -u nocasematch
  key=${name,,}  # Windows file names ignore case
  [ -z "${seen[$key]:-}" ] || die "two images named $name"
  seen[$key]=1
done
if [ $# -gt 1 ]; then
  echo "package: note: with several images the program writes the first data\\*.bin the folder lists" >&2
fi
if [ -n "${SIGN_PFX:-}" ]; then
  [ -f "$SIGN_PFX" ] || die "SIGN_PFX names no file: $SIGN_PFX"
  [ -n "${SIGN_PASSWORD+set}" ] || die "SIGN_PFX is given but SIGN_PASSWORD is not set"
fi

bash scripts/install-deps.sh
# The win32 preset is the product's release configuration (optimised, static,
# only system DLLs imported): the exe shipped is the one the suites test.
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2 --target TbtFwUpdate tbt_update_ini
bin=build/win32/bin
exe=$bin/TbtFwUpdate.exe
[ -f "$exe" ] && [ -f "$bin/data/Update.ini" ] || die "the build left no $exe or data/Update.ini"

version=$(python3 scripts/pe_version.py "$exe") || die "no version resource in $exe"
# A package of an earlier run must not outlive a failure of this one.
zip_path=$root/dist/TbtFwUpdate-$version.zip
rm -f "$zip_path"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/pkg
mkdir -p "$stage/data"
cp -- "$exe" "$stage/TbtFwUpdate.exe"
cp -- "$bin/data/Update.ini" "$stage/data/Update.ini"
for image in "$@"; do cp -- "$image" "$stage/data/$(basename -- "$image")"; done

# One source for the deployment notes: the README's section, cut by heading,
# with Markdown's code marks dropped and Windows line ends.
awk '/^## /{ if (on) exit; if ($0 == "## Deploying") on = 1 } on' README.md |
  sed -e 's/`//g' -e 's/\*\*//g' -e 's/$/\r/' >"$stage/README-deploy.txt"
[ -s "$stage/README-deploy.txt" ] || die "README.md has no \"## Deploying\" section"

if [ -n "${SIGN_PFX:-}" ]; then
  # The password goes through a private file, not the command line that any
  # user of the machine can read.
  (umask 077 && printf '%s' "$SIGN_PASSWORD" >"$work/pass")
  ts=()
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || ts=(-ts "$SIGN_TIMESTAMP_URL")
  osslsigncode sign -pkcs12 "$SIGN_PFX" -readpass "$work/pass" -h sha256 \
    -n "Vorn Thunderbolt Firmware Update Tool" "${ts[@]}" \
    -in "$stage/TbtFwUpdate.exe" -out "$work/signed.exe" >"$work/sign.log" 2>&1 ||
    { cat "$work/sign.log" >&2; die "signing failed"; }
  rm -f "$work/pass"
  mv "$work/signed.exe" "$stage/TbtFwUpdate.exe"
  cafile=${SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
  if ! osslsigncode verify -CAfile "$cafile" -in "$stage/TbtFwUpdate.exe" >"$work/verify.log" 2>&1 ||
    ! grep -q 'Signature verification: ok' "$work/verify.log"; then
    cat "$work/verify.log" >&2
    die "the signature does not verify against $cafile"
  fi
  grep -qi 'digest algorithm *: *sha256' "$work/verify.log" || die "the signature's digest is not SHA-256"
  echo "package: signed and verified: $(grep -m1 -i 'Subject:' "$work/verify.log" | sed 's/^[[:space:]]*//')"
else
  echo "package: no SIGN_PFX: TbtFwUpdate.exe is NOT signed (the elevation prompt will show an unknown publisher)" >&2
fi

(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum >SHA256SUMS)

mkdir -p dist
(cd "$stage" && LC_ALL=C find . -type f | sed 's|^\./||' | LC_ALL=C sort | zip -X -q "$work/pkg.zip" -@)
mv "$work/pkg.zip" "$zip_path"
echo "package: $zip_path"
(cd "$stage" && cat SHA256SUMS)
