#!/usr/bin/env bash
# Builds both sides and runs every suite: the core on the host (ASan + UBSan),
# the Windows suites under Wine and Xvfb, the fuzz targets for a bounded time,
# the release package (signed with a throwaway certificate) and the end-to-end
# runs of the real program. Installs what is missing first.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
FUZZ_SECONDS=${FUZZ_SECONDS:-40}  # each of the three targets

bash scripts/install-deps.sh || exit 1

passed=0 failed=0
stage() { echo; echo "=== $*"; }
tally() {  # reads a CTest log and adds its counts
  local line
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  local total bad
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.*, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad)); failed=$((failed + bad))
}

stage "host: configure and build"
if cmake --preset host >/dev/null && cmake --build --preset host; then
  stage "host: core tests (ASan + UBSan)"
  ctest --preset host 2>&1 | tee build/host-tests.log
  tally build/host-tests.log
else
  echo "host build failed"; failed=$((failed + 1))
fi

. scripts/wine-env.sh  # chooses TBT_WIN_PRESET: win32, or win64 where 32-bit programs cannot run
if [ "$TBT_WIN_PRESET" != win32 ]; then
  stage "win32: the shipped program, built (this machine cannot run 32-bit programs)"
  if cmake --preset win32 >/dev/null && cmake --build --preset win32 --target TbtFwUpdate nvmcheck; then
    passed=$((passed + 1))
    # What can be checked without running it: its imports and its hardening.
    if tests/win/exe_pe_check.sh i686-w64-mingw32-objdump i686-w64-mingw32-nm build/win32/bin/TbtFwUpdate.exe; then
      passed=$((passed + 1))
    else
      echo "the i686 program's import table or hardening is wrong"; failed=$((failed + 1))
    fi
  else
    echo "win32 build failed"; failed=$((failed + 1))
  fi
fi

stage "$TBT_WIN_PRESET: configure and build"
if cmake --preset "$TBT_WIN_PRESET" >/dev/null && cmake --build --preset "$TBT_WIN_PRESET"; then
  stage "$TBT_WIN_PRESET: Windows suites under Wine"
  tbt_prefix_ready || tbt_make_prefix
  xvfb-run -a -s '-screen 0 1920x1080x24' bash -c \
    '. scripts/wine-env.sh; tbt_start_wineserver; ctest --preset "$TBT_WIN_PRESET"; rc=$?; wineserver -k; exit $rc' 2>&1 | tee build/win-tests.log
  tally build/win-tests.log
else
  echo "$TBT_WIN_PRESET build failed"; failed=$((failed + 1))
fi

stage "fuzz: every parser an unprivileged user can feed, ${FUZZ_SECONDS}s each"
# Each target starts from seeds made from the shipped samples and texts; a
# failure leaves its input under build/fuzz/<target>- for the regression suites.
if cmake --preset fuzz >/dev/null && cmake --build --preset fuzz; then
  seeds=$(mktemp -d)
  sh tests/fuzz/make_seeds.sh "$seeds"
  for target in check text options; do
    bin=build/fuzz/bin/fuzz_$target
    [ -x "$bin" ] || { echo "fuzz_$target was not built"; failed=$((failed + 1)); continue; }
    extra=()
    [ -f "tests/fuzz/$target.dict" ] && extra+=("-dict=tests/fuzz/$target.dict")
    if "$bin" -max_total_time="$FUZZ_SECONDS" -max_len=65536 -print_final_stats=1 -timeout=60 "${extra[@]}" \
         -artifact_prefix="build/fuzz/$target-" "$seeds/$target" >"build/fuzz-$target.log" 2>&1; then
      echo "fuzz_$target: $(grep -E 'stat::number_of_executed_units' "build/fuzz-$target.log")"
      passed=$((passed + 1))
    else
      tail -n 30 "build/fuzz-$target.log"; echo "fuzz_$target found a failure (input under build/fuzz/)"
      failed=$((failed + 1))
    fi
  done
  rm -rf "$seeds"
else
  echo "fuzz build failed"; failed=$((failed + 1))
fi

stage "package: the release zip, signed with a throwaway certificate"
if bash tests/package/check_package.sh; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

if [ -x scripts/e2e.sh ]; then
  stage "end-to-end: the real program under Wine"
  scripts/e2e.sh 2>&1 | tee build/e2e.log
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' build/e2e.log | tail -n1)
  if [ -n "$line" ]; then
    passed=$((passed + $(cut -d' ' -f1 <<<"$line"))); failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
  else
    failed=$((failed + 1))
  fi
fi

echo
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
