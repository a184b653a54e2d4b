#!/usr/bin/env bash
# Builds both sides and runs every suite: the core on the host (ASan + UBSan),
# the Windows suites of the shipped i686 program under Wine and Xvfb, the same
# sources built for x86_64 (pointer-size faults), the fuzz targets for a
# bounded time, the release package (signed with a throwaway certificate) and
# the end-to-end runs of the real program, a sample of the crash-point sweep
# among them (scripts/crash-sweep.sh runs all of it). Installs what is missing
# first. Where the kernel refuses 32-bit programs, all of it runs inside the
# namespace of scripts/i386-namespace. Ends with each stage's time and "N
# passed, M failed".
set -uo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")  # re-run inside the namespace from the top folder
cd "$(dirname "$self")/.." || exit 1
root=$PWD
FUZZ_SECONDS=${FUZZ_SECONDS:-40}  # each of the three targets

if [ -z "${TBT_I386_NS:-}" ]; then  # not yet re-run inside the namespace
  export TBT_STARTED=$(date +%s)
  bash scripts/install-deps.sh || exit 1
  export TBT_INSTALL_SECS=$(($(date +%s) - TBT_STARTED))
fi
. scripts/wine-env.sh  # TBT_WIN_PRESET: win32, or win64 where 32-bit programs cannot be run at all
tbt_enter_i386 "$self" "$@"

passed=0 failed=0
stage_names=("install what is missing") stage_secs=("${TBT_INSTALL_SECS:-0}") stage_started=$SECONDS
stage() {
  stage_done
  stage_names+=("$*")
  echo; echo "=== $*"
}
stage_done() {  # closes the running stage's clock
  [ ${#stage_names[@]} -gt ${#stage_secs[@]} ] && stage_secs+=($((SECONDS - stage_started)))
  stage_started=$SECONDS
}
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

# The Windows suites of one build under Wine, on a screen of its own.
win_suites() {  # PRESET [CTEST ARGS...]
  tbt_prefix_ready || tbt_make_prefix
  xvfb-run -a -s '-screen 0 1920x1080x24' bash -c \
    '. scripts/wine-env.sh; tbt_start_wineserver; ctest --preset "$@"; rc=$?; wineserver -k; exit $rc' _ "$@" 2>&1 |
    tee "build/$1-tests.log"
  tally "build/$1-tests.log"
}

# The end-to-end runs mostly wait (the program's own two 10 s waits per run),
# so they run alongside the stages after the win32 build, on prefixes, servers
# and a screen of their own; their output is shown when they end.
e2e_pid="" e2e_started=0
start_e2e() {
  [ -x scripts/e2e.sh ] || return 0
  [ -z "$e2e_pid" ] || return 0
  rm -f build/e2e.log build/e2e.ended
  e2e_started=$(date +%s)
  (scripts/e2e.sh >build/e2e.log 2>&1; date +%s >build/e2e.ended) &
  e2e_pid=$!
  echo "(end-to-end runs started alongside, output in build/e2e.log)"
}
trap '[ -z "$e2e_pid" ] || kill "$e2e_pid" 2>/dev/null' EXIT

stage "win32: the shipped program and its Windows suites (i686, $([ -n "${TBT_I386_NS:-}" ] && echo 'emulated 32-bit code' || echo native))"
if cmake --preset win32 >/dev/null && cmake --build --preset win32; then
  # What the file itself must show: its imports and its hardening.
  if tests/win/exe_pe_check.sh i686-w64-mingw32-objdump i686-w64-mingw32-nm build/win32/bin/TbtFwUpdate.exe; then
    passed=$((passed + 1))
  else
    echo "the i686 program's import table or hardening is wrong"; failed=$((failed + 1))
  fi
  start_e2e
  if [ "$TBT_WIN_PRESET" = win32 ]; then win_suites win32; else echo "(not run: this machine cannot run 32-bit programs)"; fi
else
  echo "win32 build failed"; failed=$((failed + 1))
fi

# The x86_64 build catches what only a pointer of 8 bytes shows: its suites
# run, but for the window's (label gui: drawing and layout, the same code
# either way, and the longest to run), unless TBT_WIN64_GUI=1; all of them
# where no 32-bit program can run.
stage "win64: the same sources for x86_64"
if cmake --preset win64 >/dev/null && cmake --build --preset win64; then
  if [ "$TBT_WIN_PRESET" = win64 ] || [ "${TBT_WIN64_GUI:-0}" = 1 ]; then win_suites win64; else win_suites win64 -LE gui; fi
else
  echo "win64 build failed"; failed=$((failed + 1))
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

stage "scripts: installs from a suite the machine's sources lack, against apt and a local mirror"
bash tests/scripts/apt_suite_test.sh 2>&1 | tee build/scripts-tests.log
line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' build/scripts-tests.log | tail -n1)
if [ -n "$line" ]; then
  passed=$((passed + $(cut -d' ' -f1 <<<"$line"))); failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
else
  failed=$((failed + 1))
fi

if [ -x scripts/e2e.sh ]; then
  start_e2e  # where the win32 build failed, they still build what they need
  stage "end-to-end: the real program under Wine (the rest of their time)"
  wait "$e2e_pid"
  e2e_pid=""
  cat build/e2e.log
  e2e_secs=$(($(cat build/e2e.ended 2>/dev/null || date +%s) - e2e_started))
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' build/e2e.log | tail -n1)
  if [ -n "$line" ]; then
    passed=$((passed + $(cut -d' ' -f1 <<<"$line"))); failed=$((failed + $(cut -d' ' -f3 <<<"$line")))
  else
    failed=$((failed + 1))
  fi
fi

stage_done
echo
echo "time of each stage (s):"
for i in "${!stage_names[@]}"; do printf '%6d  %s\n' "${stage_secs[$i]}" "${stage_names[$i]}"; done
[ -z "${e2e_secs:-}" ] || printf '%6d  (end-to-end from its start, alongside the stages after the win32 build)\n' "$e2e_secs"
printf '%6d  in all\n' "$(($(date +%s) - ${TBT_STARTED:-$(date +%s)}))"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
