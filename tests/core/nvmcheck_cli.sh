#!/usr/bin/env bash
# Runs nvmcheck as a release engineer would and checks its first line, its
# exit code and the usage errors; also that the shipped samples are current.
set -u
nvmcheck=$1 samplegen=$2 samples=$3
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
pass=0 fail=0
check() {  # name expected-exit expected-first-line -- args...
  local name=$1 want_rc=$2 want_line=$3; shift 4
  local out rc
  out=$("$nvmcheck" "$@" 2>"$tmp/err"); rc=$?
  if [ "$rc" != "$want_rc" ] || { [ -n "$want_line" ] && [ "$(printf '%s\n' "$out" | head -n1)" != "$want_line" ]; } \
     || { [ "$want_rc" = 2 ] && { [ -n "$out" ] || [ ! -s "$tmp/err" ]; }; }; then
    echo "FAIL $name: rc=$rc"; printf '%s\n' "$out" | head -5; cat "$tmp/err"; fail=$((fail+1))
  else pass=$((pass+1)); fi
}
nvm=(--nvm "$samples/controller.nvm" --nvm-version 0x20)
check newer 0 "0x00000000 STATUS_OK" -- "$samples/update-newer.bin" "${nvm[@]}"
check same 0 "0x00000000 STATUS_OK" -- "$samples/update-same.bin" "${nvm[@]}"
check older 1 "0x1043000C ERR_DOWNGRADE_REFUSED" -- "$samples/update-older.bin" "${nvm[@]}"
check older-permitted 0 "0x00000000 STATUS_OK" -- --downgradable "$samples/update-older.bin" "${nvm[@]}"
check decimal-version 1 "0x1043000C ERR_DOWNGRADE_REFUSED" -- "$samples/update-newer.bin" --nvm "$samples/controller.nvm" --nvm-version 35
check other-board 1 "0x10430006 ERR_IMAGE_MISMATCH" -- "$samples/update-other-board.bin" "${nvm[@]}"
check other-family 1 "0x10430009 ERR_FAMILY_MISMATCH" -- "$samples/update-other-family.bin" "${nvm[@]}"
check empty-dump 1 "0x10430003 ERR_PROVIDER_FAILED" -- "$samples/update-newer.bin" --nvm /dev/null --nvm-version 1
: > "$tmp/empty.bin"
check empty-image 1 "0x10430005 ERR_IMAGE_UNUSABLE" -- "$tmp/empty.bin" "${nvm[@]}"
# The refusal names the row and both values.
"$nvmcheck" "$samples/update-other-board.bin" "${nvm[@]}" | grep -q 'row 45 "Snk0".*controller 0x31, image 0x00' \
  && pass=$((pass+1)) || { echo "FAIL row report"; fail=$((fail+1)); }
"$nvmcheck" "$samples/update-newer.bin" "${nvm[@]}" | grep -qx 'provider reads: 17' \
  && pass=$((pass+1)) || { echo "FAIL provider reads"; fail=$((fail+1)); }
# Usage errors and unreadable files: exit 2, message on stderr, nothing on stdout.
check no-args 2 "" --
check no-nvm 2 "" -- "$samples/update-newer.bin" --nvm-version 1
check no-version 2 "" -- "$samples/update-newer.bin" --nvm "$samples/controller.nvm"
check bad-version 2 "" -- "$samples/update-newer.bin" --nvm "$samples/controller.nvm" --nvm-version 0x1FFFFFFFF
check junk-version 2 "" -- "$samples/update-newer.bin" --nvm "$samples/controller.nvm" --nvm-version 12ab
check unknown-option 2 "" -- "$samples/update-newer.bin" "${nvm[@]}" --force
check two-images 2 "" -- "$samples/update-newer.bin" "$samples/update-older.bin" "${nvm[@]}"
check missing-image 2 "" -- "$tmp/nope.bin" "${nvm[@]}"
check missing-dump 2 "" -- "$samples/update-newer.bin" --nvm "$tmp/nope.nvm" --nvm-version 1
check dir-image 2 "" -- "$tmp" "${nvm[@]}"
# Inputs that never end or are far too large are refused without reading them whole.
truncate -s 3G "$tmp/huge.bin"
check endless-image 2 "" -- /dev/zero "${nvm[@]}"
check huge-image 2 "" -- "$tmp/huge.bin" "${nvm[@]}"
check huge-dump 2 "" -- "$samples/update-newer.bin" --nvm "$tmp/huge.bin" --nvm-version 1
grep -q 'larger than 64 MiB' "$tmp/err" && pass=$((pass+1)) || { echo "FAIL size message"; fail=$((fail+1)); }
# The shipped samples are what the generator makes today.
"$samplegen" "$tmp" && for f in "$samples"/*.nvm "$samples"/*.bin "$samples"/controller.version; do
  cmp -s "$f" "$tmp/$(basename "$f")" && pass=$((pass+1)) || { echo "FAIL stale sample $f"; fail=$((fail+1)); }
done
echo "$pass passed, $fail failed"
[ "$fail" = 0 ]
