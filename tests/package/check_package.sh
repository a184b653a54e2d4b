#!/usr/bin/env bash
# The release package as a vendor gets it: signed with a throwaway self-signed
# certificate made here, then unpacked and checked (contents, checksums,
# signature, version against the version resource's source); and once more
# unsigned. Prints "package: ok" or what is wrong; exit 0 or 1.
set -uo pipefail
cd "$(dirname "$0")/../.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

image=samples/update-newer.bin
version=$(sed -nE 's/^FILEVERSION +([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+).*/\1.\2.\3.\4/p' res/ui.rc)
[ -n "$version" ] || fail "no FILEVERSION in res/ui.rc"
zip=dist/TbtFwUpdate-$version.zip

export PW
PW=$(openssl rand -hex 16)
openssl req -x509 -newkey rsa:3072 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=TbtFwUpdate CI throwaway" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 &&
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/ci.pfx" -passout env:PW ||
  fail "could not make a certificate"

rm -f "$zip"
SIGN_PFX=$work/ci.pfx SIGN_PASSWORD=$PW SIGN_CAFILE=$work/cert.pem scripts/package.sh "$image" >"$work/log" 2>&1 ||
  { cat "$work/log"; fail "signed packaging failed"; }
[ -f "$zip" ] || fail "no $zip (the version resource should say $version)"

want=$'README-deploy.txt\nSHA256SUMS\nTbtFwUpdate.exe\ndata/Update.ini\ndata/update-newer.bin'
got=$(unzip -Z1 "$zip" | LC_ALL=C sort)
[ "$got" = "$want" ] || fail "zip holds: $(tr '\n' ' ' <<<"$got")"
mkdir "$work/x" && unzip -q "$zip" -d "$work/x" || fail "cannot unzip"
(cd "$work/x" && sha256sum --quiet --strict -c SHA256SUMS) || fail "checksums do not match"
[ "$(wc -l <"$work/x/SHA256SUMS")" -eq 4 ] || fail "SHA256SUMS does not list the four other files"
cmp -s "$work/x/data/update-newer.bin" "$image" || fail "the image differs from $image"
[ "$(python3 scripts/pe_version.py "$work/x/TbtFwUpdate.exe")" = "$version" ] || fail "signed exe's version"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/x/TbtFwUpdate.exe" >"$work/verify" 2>&1 &&
  grep -q 'Signature verification: ok' "$work/verify" || { cat "$work/verify"; fail "signature does not verify"; }
grep -qi 'digest algorithm *: *sha256' "$work/verify" || fail "digest is not SHA-256"
head -n1 "$work/x/README-deploy.txt" | grep -q '^## Deploying' || fail "README-deploy.txt is not the Deploying section"
grep -q '^## ' <(tail -n +2 "$work/x/README-deploy.txt") && fail "README-deploy.txt runs into the next section"

# Without a certificate: packaged, but unsigned; a bad image name is refused.
scripts/package.sh "$image" >"$work/log" 2>&1 || { cat "$work/log"; fail "unsigned packaging failed"; }
unzip -q -o "$zip" TbtFwUpdate.exe -d "$work/u" &&
  ! osslsigncode verify -CAfile "$work/cert.pem" -in "$work/u/TbtFwUpdate.exe" >/dev/null 2>&1 ||
  fail "the unsigned package carries a signature"
scripts/package.sh README.md >/dev/null 2>&1 && fail "a file that is not *.bin was packaged"
echo "package: ok ($zip)"
