#!/usr/bin/env bash
# The release package: builds the product bound to its one image and writes
# TbtFwUpdate-<version>.zip (TbtFwUpdate-<version>-unsigned.zip without a
# certificate) holding
#   TbtFwUpdate.exe       signed, and bound to the image (see below)
#   data\<image>.bin      the one image of this release
#   data\Update.ini       every text of the window
#   README-deploy.txt     the README's "Deploying" section, as plain text
#   SHA256SUMS            the SHA-256 of each file above, as sha256sum writes it
# The version is the one the exe's version resource carries.
#
#   scripts/package.sh [--unsigned] [--out DIR] [--preset win32|win64] IMAGE.bin
#
# Every path (IMAGE, DIR, SIGN_PFX, SIGN_CAFILE) is taken from the caller's
# folder. DIR defaults to dist/ of the repository.
#
# Release binding: the image's SHA-256 is built into the exe as a resource
# before it is signed, so the signature covers it; the program then writes
# that image and refuses any other (0x10430011). One image per release.
#
# Signing (Authenticode, SHA-256 digest, with osslsigncode): SIGN_PFX names a
# PKCS#12 file with the code-signing certificate and its key, SIGN_PASSWORD
# holds its password, which reaches osslsigncode through a pipe, never a file.
# The signature is verified before zipping, against SIGN_CAFILE (default: the
# system's CA bundle; give the certificate itself for a self-signed one).
# SIGN_TIMESTAMP_URL, when set, has the signature timestamped so that it
# outlives the certificate. Without SIGN_PFX the script refuses, unless asked
# for --unsigned.
#
# Any failure leaves no zip of this version behind, neither a partial one nor
# one of an earlier run.
set -euo pipefail
# The password is for the signer alone: kept in this shell, never handed to
# the installs, cmake or the compilers.
export -n SIGN_PASSWORD 2>/dev/null || true
caller=$PWD
root=$(cd "$(dirname "$0")/.." && pwd)

die() { echo "package: $*" >&2; exit 1; }
usage() { echo "usage: scripts/package.sh [--unsigned] [--out DIR] [--preset win32|win64] IMAGE.bin" >&2; exit 2; }
from_caller() { case $1 in /*) printf '%s\n' "$1" ;; *) printf '%s\n' "$caller/$1" ;; esac; }

unsigned=0
out=$root/dist
preset=win32
while [ $# -gt 0 ]; do
  case $1 in
    --unsigned) unsigned=1; shift ;;
    --out) [ $# -ge 2 ] || usage; out=$(from_caller "$2"); shift 2 ;;
    --out=*) out=$(from_caller "${1#--out=}"); shift ;;
    --preset) [ $# -ge 2 ] || usage; preset=$2; shift 2 ;;
    --) shift; break ;;
    -*) echo "package: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || usage
case $preset in win32 | win64) ;; *) die "--preset is win32 (the product) or win64" ;; esac

# The zip's name first, so that every failure below can take it away.
version=$(sed -nE 's/^FILEVERSION +([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+).*/\1.\2.\3.\4/p' "$root/res/ui.rc")
[ -n "$version" ] || die "no FILEVERSION in res/ui.rc"
suffix=
[ $unsigned = 0 ] || suffix=-unsigned
zip_path=$out/TbtFwUpdate-$version$suffix.zip
work=$(mktemp -d)
cleanup() {
  local rc=$?
  rm -rf "$work"
  rm -f "$zip_path.partial"
  [ $rc -eq 0 ] || rm -f "$zip_path"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
rm -f "$zip_path"

# One image: the program writes only the image it is bound to, and with two
# in data\ it would refuse whichever the folder listed first.
[ $# -eq 1 ] || die "one image per release ($# given): a release is bound to the SHA-256 of its one image"
image=$(from_caller "$1")
[ -f "$image" ] && [ -r "$image" ] || die "not a readable file: $1"
name=$(basename -- "$image")
shopt -s nocasematch
[[ "$name" == *.bin ]] || die "the program loads data\\*.bin only: $1"
shopt -u nocasematch
# From here on only this copy counts: it is probed, hashed, bound and
# shipped, whatever becomes of the caller's file during the build.
mkdir "$work/image"
cp -- "$image" "$work/image/$name" || die "cannot copy $1"
image=$work/image/$name
[ -s "$image" ] || die "empty image: $1"

if [ $unsigned = 0 ]; then
  [ -n "${SIGN_PFX:-}" ] || die "no SIGN_PFX: refusing to package an unsigned exe (give --unsigned to mean it)"
  pfx=$(from_caller "$SIGN_PFX")
  [ -f "$pfx" ] || die "SIGN_PFX names no file: $SIGN_PFX"
  [ -n "${SIGN_PASSWORD+set}" ] || die "SIGN_PFX is given but SIGN_PASSWORD is not set"
  cafile=$(from_caller "${SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}")
fi

cd "$root"
bash scripts/install-deps.sh --package
# Is it an image at all? The offline checker's layout probe (header words,
# section, device id), the same code the program runs.
cmake --preset host >/dev/null
cmake --build --preset host -j2 --target nvmcheck >/dev/null
build/host/bin/nvmcheck "$image" --layout >"$work/layout" 2>&1 ||
  die "not a firmware image (the layout probe says $(head -n1 "$work/layout")): $1"

# The product's release configuration (optimised, static, only system DLLs
# imported), in a build folder of its own that carries the binding: the
# developer's build stays unbound.
sha=$(sha256sum -- "$image" | cut -c1-64)
bdir=build/release-$preset
cmake --preset "$preset" -B "$bdir" -DTBT_RELEASE_IMAGE_SHA256="$sha" >/dev/null
cmake --build "$bdir" -j2 --target TbtFwUpdate tbt_update_ini
exe=$bdir/bin/TbtFwUpdate.exe
[ -f "$exe" ] && [ -f "$bdir/bin/data/Update.ini" ] || die "the build left no $exe or data/Update.ini"
grep -qaF "$sha" "$exe" || die "the exe does not carry the image's SHA-256"
[ "$(python3 scripts/pe_version.py "$exe")" = "$version" ] || die "the exe's version is not $version (res/ui.rc)"

stage=$work/pkg
mkdir -p "$stage/data"
cp -- "$exe" "$stage/TbtFwUpdate.exe"
cp -- "$bdir/bin/data/Update.ini" "$stage/data/Update.ini"
cp -- "$image" "$stage/data/$name"

# One source for the deployment notes: the README's section, cut by heading,
# with Markdown's code marks dropped and Windows line ends.
awk '/^## /{ if (on) exit; if ($0 == "## Deploying") on = 1 } on' README.md |
  sed -e 's/`//g' -e 's/\*\*//g' -e 's/$/\r/' >"$stage/README-deploy.txt"
[ -s "$stage/README-deploy.txt" ] || die "README.md has no \"## Deploying\" section"

if [ $unsigned = 0 ]; then
  ts=()
  [ -z "${SIGN_TIMESTAMP_URL:-}" ] || ts=(-ts "$SIGN_TIMESTAMP_URL")
  # The password through a pipe (printf is a builtin: no command line shows
  # it), never a file that a kill during signing would leave behind.
  osslsigncode sign -pkcs12 "$pfx" -readpass /dev/fd/3 -h sha256 \
    -n "Vorn Thunderbolt Firmware Update Tool" "${ts[@]}" \
    -in "$stage/TbtFwUpdate.exe" -out "$work/signed.exe" >"$work/sign.log" 2>&1 \
    3< <(printf '%s' "$SIGN_PASSWORD") ||
    { cat "$work/sign.log" >&2; die "signing failed"; }
  mv "$work/signed.exe" "$stage/TbtFwUpdate.exe"
  if ! osslsigncode verify -CAfile "$cafile" -in "$stage/TbtFwUpdate.exe" >"$work/verify.log" 2>&1 ||
    ! grep -q 'Signature verification: ok' "$work/verify.log"; then
    cat "$work/verify.log" >&2
    die "the signature does not verify against $cafile"
  fi
  grep -qi 'digest algorithm *: *sha256' "$work/verify.log" || die "the signature's digest is not SHA-256"
  echo "package: signed and verified: $(grep -m1 -i 'Subject:' "$work/verify.log" | sed 's/^[[:space:]]*//')"
else
  echo "package: --unsigned: TbtFwUpdate.exe is NOT signed (the elevation prompt will show an unknown publisher)" >&2
fi
echo "package: bound to $name, SHA-256 $sha"

(cd "$stage" && find . -type f ! -name SHA256SUMS | sed 's|^\./||' | LC_ALL=C sort |
  xargs -d '\n' sha256sum >SHA256SUMS)

mkdir -p "$out"
# Written beside its final name and renamed: no reader ever sees half a zip.
(cd "$stage" && LC_ALL=C find . -type f | sed 's|^\./||' | LC_ALL=C sort | zip -X -q "$work/pkg.zip" -@)
cp "$work/pkg.zip" "$zip_path.partial"
mv "$zip_path.partial" "$zip_path"
echo "package: $zip_path"
(cd "$stage" && cat SHA256SUMS)
