#!/usr/bin/env bash
# End-to-end runs of the real TbtFwUpdate.exe against the simulated hardware,
# driven through its window as a person would. Started by scripts/e2e.sh inside
# an X server with a compositor; needs E2E_PRODUCT, E2E_TOOLS, E2E_SAMPLES,
# E2E_OUT and the three prefixes E2E_PREFIX_FULL, E2E_PREFIX_NOACPI and
# E2E_PREFIX_NOPROVIDER. The expected texts are read from the shipped
# Update.ini. Ends with "N passed, M failed"; exits non-zero on any failure.
set -u
. "$(dirname "$0")/lib.sh"
mkdir -p "$E2E_OUT"
FIGURES="$E2E_OUT/figures.txt"
: >"$FIGURES"

NEWER="$E2E_SAMPLES/update-newer.bin"
OLDER="$E2E_SAMPLES/update-older.bin"
OTHER_BOARD="$E2E_SAMPLES/update-other-board.bin"
RESULT_TIMEOUT_MS=90000

figure() {
  echo "  figure: $1=$2"
  echo "$1=$2" >>"$FIGURES"
}

# Starts the program, checks the prompt in language $LANG_ID, presses Update
# and waits for the result (Exit usable again, or Shut down offered).
LANG_ID=409
run_update() {
  local name="$1" image="$2"
  shift 2
  if ! start_product "$name" "$image" "$@"; then
    fail "the window did not appear"
    return 1
  fi
  read_state
  expect_control 1004 1 - "$(ini_text $LANG_ID IDS_PROMPT)"
  expect_control 1003 1 1 "$(ini_text $LANG_ID IDS_UPDATE)"
  expect_control 1 0 -
  expect_control 1007 0 -
  press 1003 || fail "could not press Update"
  if ! inspector wait --timeout $RESULT_TIMEOUT_MS --settle 600 --any 1:active 1007:visible; then
    fail "no result within $((RESULT_TIMEOUT_MS / 1000)) s"
    return 1
  fi
  read_state
}

# A failed update: the message, Exit offered, the exit code after Exit.
expect_failure_window() {  # TEXT EXIT_CODE
  expect_control 1004 1 - "$1"
  expect_control 1 1 1
  expect_control 2 1 1 "$(ini_text $LANG_ID IDS_CLOSE)"  # the close cross's own name
  expect_control 1003 0 -
  expect_control 1006 0 -
  expect_control 1007 0 -
  expect_control 1008 0 -
  local ms
  ms=$(update_ms)
  expect_true "the run took the two fixed 10 s waits (${ms:-?} ms)" test "${ms:-0}" -ge 20000
  press 1 || fail "could not press Exit"
  wait_exit 20 || fail "the program did not end after Exit"
  expect_eq "exit code" "$2" "$(exit_code)"
}

# The device was opened, switched on, off, and closed with the window.
expect_device_cycle() {
  expect_eq "device record" "OPEN
DEVS 0x00060057 1
DEVS 0x00060057 0
CLOSE" "$(acpi_events)"
}

# Seconds between two records (stand-in timestamps "t=<s.ms>").
seconds_between() {  # FILE1 PATTERN1 FILE2 PATTERN2 (first match in each)
  local a b
  a=$(grep -m1 "$2" "$1" | sed -n 's/^t=\([0-9.]*\) .*/\1/p')
  b=$(grep -m1 "$4" "$3" | sed -n 's/^t=\([0-9.]*\) .*/\1/p')
  [ -n "$a" ] && [ -n "$b" ] && awk -v a="$a" -v b="$b" 'BEGIN { printf "%.3f", b - a }'
}

# Runs each given command line (a case with its arguments) in a subshell with
# the window pressed by message, E2E_LANES (default 3) at a time, then reports
# them in order, each counted by its PASS line. Each lane is a machine of its
# own: the current prefix or a copy of it with a server of its own, since the
# program lets one update run per machine. The runs mostly wait (the program's
# two 10 s waits), so lanes cost little CPU.
run_each() {
  local home=$WINEPREFIX lanes=() pids=() logs=() lane i=0 entry log
  lanes[0]=$home
  for ((lane = 1; lane < ${E2E_LANES:-3} && lane < $#; lane++)); do
    lanes[lane]="$home-lane$lane"
    WINEPREFIX=${lanes[lane]} wineserver -k 2>/dev/null
    rm -rf "${lanes[lane]}" && cp -a "$home" "${lanes[lane]}" || return
    # Wine's own files are never written once a prefix is set up: one copy on disk.
    hardlink -q -t -i '\.(dll|exe|sys|drv|nls|tlb|ttf|ttc|otf|fon)$' "$home/drive_c/windows" \
      "${lanes[lane]}/drive_c/windows" >/dev/null 2>&1
    use_prefix "${lanes[lane]}"
  done
  export WINEPREFIX=$home
  for entry in "$@"; do
    # The first lane whose run has ended.
    while :; do
      for lane in "${!lanes[@]}"; do
        [ -n "${pids[lane]:-}" ] && kill -0 "${pids[lane]}" 2>/dev/null || break 2
      done
      sleep 0.5
    done
    log="$E2E_OUT/run-each-$i.log"
    logs+=("$log")
    (export WINEPREFIX=${lanes[lane]} && E2E_CLICK=message eval "$entry") >"$log" 2>&1 &
    pids[lane]=$!
    i=$((i + 1))
  done
  wait
  for lane in "${!lanes[@]}"; do
    [ "$lane" = 0 ] || { WINEPREFIX=${lanes[lane]} wineserver -k 2>/dev/null; rm -rf "${lanes[lane]}"; }
  done
  for log in "${logs[@]}"; do
    cat "$log"
    if grep -q '^PASS ' "$log"; then CASES_PASSED=$((CASES_PASSED + 1)); else CASES_FAILED=$((CASES_FAILED + 1)); fi
  done
}

# The cases, by topic; each file defines case_<name> functions.
for topic in window faults unattended planted_dlls one_writer session_end deployment answers crash_sweep; do
  . "$(dirname "$0")/$topic.sh"
done


# Cases in the order they run, grouped by prefix; E2E_CASES (a regular
# expression over the names) picks some of them.
PLAN=(
  "NOACPI no_acpi" "NOACPI closed_before_attempt"
  "NOPROVIDER no_provider"
  "FULL standins" "FULL success" "FULL other_board" "FULL older" "FULL older_downgradable" "FULL no_image"
  "FULL japanese_provider_error" "FULL commands_during_run" "FULL keys_held_during_write" "FULL faults"
  "FULL unattended_runs"
  "FULL planted_dlls"
  "FULL two_silent_runs" "FULL window_while_silent_writes" "FULL check_during_window_write"
  "FULL end_session_during_write" "FULL session_end_before_write" "FULL session_end_at_prompt"
  "FULL killed_during_write" "FULL device_off_during_write" "FULL session_end_during_slow_probe"
  "FULL lock_name_taken" "FULL provider_answers" "FULL unanswered_write" "FULL written_this_boot"
  "FULL refused_lines" "FULL record" "FULL long_japanese_path"
  "FULL release_binding" "FULL escaped_lines" "FULL readme_examples"
  "FULL crash_sweep_sample"
)
# E2E_SWEEP=full (scripts/crash-sweep.sh): the whole crash-point sweep alone.
[ -z "${E2E_SWEEP:-}" ] || PLAN=("FULL crash_sweep_$E2E_SWEEP")
started=$(date +%s)
current=""
# Whatever happens, no server of ours outlives the suite.
trap 'stop_prefix' EXIT
for entry in "${PLAN[@]}"; do
  prefix_var="E2E_PREFIX_${entry%% *}"
  name="${entry#* }"
  [[ "$name" =~ ${E2E_CASES:-.} ]] || continue
  if [ "$current" != "$prefix_var" ]; then
    [ -z "$current" ] || stop_prefix
    use_prefix "${!prefix_var}"
    current="$prefix_var"
  fi
  "case_$name"
done
[ -z "$current" ] || stop_prefix
echo
echo "e2e: $(($(date +%s) - started)) s; figures in $FIGURES; records in $E2E_OUT"
cat "$FIGURES"
echo "$CASES_PASSED passed, $CASES_FAILED failed"
[ "$CASES_FAILED" -eq 0 ]
