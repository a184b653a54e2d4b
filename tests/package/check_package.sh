#!/usr/bin/env bash
# The release package as a vendor gets it, made in a folder of this check's
# own (never dist/): signed with a throwaway self-signed certificate made here,
# then unpacked and checked (contents, checksums, signature, version, the
# binding to its image); once more unsigned, from another folder with
# relative paths; and every refusal, each of which must leave no zip behind.
# Prints "package: ok" or what is wrong; exit 0 or 1.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
cd "$repo"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package check: $*" >&2; exit 1; }

image=samples/update-newer.bin
version=$(sed -nE 's/^FILEVERSION +([0-9]+), *([0-9]+), *([0-9]+), *([0-9]+).*/\1.\2.\3.\4/p' res/ui.rc)
[ -n "$version" ] || fail "no FILEVERSION in res/ui.rc"
out=$work/dist
zip=$out/TbtFwUpdate-$version.zip
# The script's own temporary files land here, where the password is looked for.
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR" "$out"

export PW
PW=$(openssl rand -hex 16)
openssl req -x509 -newkey rsa:3072 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
  -subj "/CN=TbtFwUpdate CI throwaway" -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 &&
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/ci.pfx" -passout env:PW ||
  fail "could not make a certificate"

# While osslsigncode signs, no file of the run (its temporary folder, the
# output, the release build) holds the password.
mkdir "$work/shim"
cat >"$work/shim/osslsigncode" <<EOF
#!/bin/sh
[ "\$1" = sign ] && grep -rlF -- "\$PW" "$TMPDIR" "$out" "$repo/build/release-win32" >>"$work/leaks" 2>/dev/null
echo signed >>"$work/signings"
exec $(command -v osslsigncode) "\$@"
EOF
# Builds and installs get no password (cmake's environment is what the
# compilers inherit); TAMPER_IMAGE names a file that a build of the release
# replaces with another image, as a change made during the build would.
cat >"$work/shim/cmake" <<EOF
#!/bin/sh
echo "\$*" >>"$work/cmake-runs"
env | grep -v '^PW=' | grep -qF -- "\$PW" && echo "cmake \$*" >>"$work/env-leaks"
case " \$* " in
  *" --build "*release-*)
    if [ -n "\${TAMPER_IMAGE:-}" ] && [ ! -e "$work/tampered" ]; then
      cp -f "$repo/samples/update-other-board.bin" "\$TAMPER_IMAGE" && echo "\$*" >"$work/tampered"
    fi ;;
esac
exec $(command -v cmake) "\$@"
EOF
chmod +x "$work/shim/osslsigncode" "$work/shim/cmake"

PATH=$work/shim:$PATH SIGN_PFX=$work/ci.pfx SIGN_PASSWORD=$PW SIGN_CAFILE=$work/cert.pem \
  scripts/package.sh --out "$out" "$image" >"$work/log" 2>&1 || { cat "$work/log"; fail "signed packaging failed"; }
[ -f "$zip" ] || fail "no $zip (the version resource should say $version)"
[ -s "$work/signings" ] || fail "osslsigncode was not run through the check's shim"
[ ! -s "$work/leaks" ] || fail "the password was in a file while signing: $(cat "$work/leaks")"
grep -rlF -- "$PW" "$TMPDIR" "$out" build/release-win32 2>/dev/null && fail "the password is in a file after signing"
[ -s "$work/cmake-runs" ] || fail "cmake was not run through the check's shim"
[ ! -s "$work/env-leaks" ] || fail "the password was in the environment of: $(cat "$work/env-leaks")"

want=$'README-deploy.txt\nSHA256SUMS\nTbtFwUpdate.exe\ndata/Update.ini\ndata/update-newer.bin'
got=$(unzip -Z1 "$zip" | LC_ALL=C sort)
[ "$got" = "$want" ] || fail "zip holds: $(tr '\n' ' ' <<<"$got")"
mkdir "$work/x" && unzip -q "$zip" -d "$work/x" || fail "cannot unzip"
(cd "$work/x" && sha256sum --quiet --strict -c SHA256SUMS) || fail "checksums do not match"
[ "$(wc -l <"$work/x/SHA256SUMS")" -eq 4 ] || fail "SHA256SUMS does not list the four other files"
cmp -s "$work/x/data/update-newer.bin" "$image" || fail "the image differs from $image"
grep -qaF "$(sha256sum <"$image" | cut -c1-64)" "$work/x/TbtFwUpdate.exe" || fail "the exe is not bound to its image"
[ "$(python3 scripts/pe_version.py "$work/x/TbtFwUpdate.exe")" = "$version" ] || fail "signed exe's version"
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/x/TbtFwUpdate.exe" >"$work/verify" 2>&1 &&
  grep -q 'Signature verification: ok' "$work/verify" || { cat "$work/verify"; fail "signature does not verify"; }
grep -qi 'digest algorithm *: *sha256' "$work/verify" || fail "digest is not SHA-256"
head -n1 "$work/x/README-deploy.txt" | grep -q '^## Deploying' || fail "README-deploy.txt is not the Deploying section"
grep -q '^## ' <(tail -n +2 "$work/x/README-deploy.txt") && fail "README-deploy.txt runs into the next section"
# The developer's build carries no binding.
[ ! -f build/win32/bin/TbtFwUpdate.exe ] || ! grep -qaF "$(sha256sum <"$image" | cut -c1-64)" \
  build/win32/bin/TbtFwUpdate.exe || fail "the developer's build is bound"

# Unsigned only when asked, and then named so; paths from the caller's folder.
# The caller's image is replaced during the build: the zip still ships the
# image as it was given, the one the exe is bound to.
mkdir -p "$work/caller/img" && cp "$image" "$work/caller/img/"
(cd "$work/caller" && PATH=$work/shim:$PATH TAMPER_IMAGE=$work/caller/img/update-newer.bin \
  "$repo/scripts/package.sh" --unsigned --out rel img/update-newer.bin) >"$work/log" 2>&1 ||
  { cat "$work/log"; fail "unsigned packaging failed"; }
[ -s "$work/tampered" ] || fail "the image was not replaced during the build"
unsigned_zip=$work/caller/rel/TbtFwUpdate-$version-unsigned.zip
unzip -q -o "$unsigned_zip" -d "$work/u" &&
  ! osslsigncode verify -CAfile "$work/cert.pem" -in "$work/u/TbtFwUpdate.exe" >/dev/null 2>&1 ||
  fail "the unsigned package is missing or carries a signature"
cmp -s "$work/u/data/update-newer.bin" "$image" || fail "the zip ships the image as it was changed during the build"
grep -qaF "$(sha256sum <"$image" | cut -c1-64)" "$work/u/TbtFwUpdate.exe" ||
  fail "the unsigned exe is not bound to the image it was given"

# Each refusal leaves no zip: neither a new one nor the one an earlier run left.
printf 'not an image\n' >"$work/notes.bin"
refuse() {
  local what=$1
  shift
  echo old >"$zip"
  "$@" >"$work/log" 2>&1 && fail "$what: packaged"
  [ ! -e "$zip" ] || fail "$what: a zip was left behind"
  ls "$out" | grep -q . && fail "$what: left $(ls "$out")"
  return 0
}
signed=(env SIGN_PFX="$work/ci.pfx" SIGN_PASSWORD="$PW" SIGN_CAFILE="$work/cert.pem" scripts/package.sh --out "$out")
refuse "empty SIGN_PFX" env SIGN_PFX= scripts/package.sh --out "$out" "$image"
refuse "no SIGN_PFX" env -u SIGN_PFX scripts/package.sh --out "$out" "$image"
refuse "a text named .bin" "${signed[@]}" "$work/notes.bin"
refuse "two images" "${signed[@]}" "$image" samples/update-same.bin
refuse "a file not *.bin" "${signed[@]}" README.md
refuse "a wrong password" env SIGN_PFX="$work/ci.pfx" SIGN_PASSWORD=wrong SIGN_CAFILE="$work/cert.pem" \
  scripts/package.sh --out "$out" "$image"
grep -q "signing failed" "$work/log" || fail "the wrong password did not fail at signing: $(tail -n3 "$work/log")"
echo "package: ok"
