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
  expect_control 2 1 1
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

# --- the stand-ins themselves, before the program is judged by them ------------

case_standins() {
  begin_case standins "the stand-ins answer as the product's calls expect"
  configure_provider
  reset_records
  local out expected
  out=$(wine "$E2E_TOOLS/tbtsim_probe.exe" wmi </dev/null 2>&1 | tr -d '\r')
  echo "$out" >"$E2E_OUT/standins-probe.txt"
  expected=$(od -An -tx1 -j4 -N4 "$E2E_SAMPLES/controller.nvm" | tr -d ' \n' | tr a-f A-F)
  expect_true "the provider lists a controller whose id holds backslashes" grep -q '^controller=.*\\' <<<"$out"
  expect_true "the provider reports the sample's version" \
    grep -q "version=$(printf '0x%X' "$(tr -d '[:space:]' <"$E2E_SAMPLES/controller.version")")\$" <<<"$out"
  expect_true "the provider reads the sample NVM" grep -q "^read.return=0 data=$expected\$" <<<"$out"
  out=$(wine "$E2E_TOOLS/tbtsim_probe.exe" acpi 1 </dev/null 2>&1 | tr -d '\r')
  expect_true "the device answers DEVS with 4 bytes" grep -q '^devs=ok bytes=4' <<<"$out"
  expect_eq "device record" "OPEN
DEVS 0x00060057 1
CLOSE" "$(acpi_events)"
  out=$(wine "$E2E_TOOLS/tbtsim_probe.exe" service </dev/null 2>&1 | tr -d '\r')
  expect_true "the service runs after a start request" grep -q '^state=4' <<<"$out"
  expect_true "the service recorded its start" grep -q '^started' "$SIM/service.log"
  reset_records
  end_case
}

# --- no ACPI device --------------------------------------------------------------

case_no_acpi() {
  begin_case no_acpi "no ACPI device: refused at once, no worker, Exit offered"
  configure_provider
  if start_product no-acpi "$NEWER"; then
    read_state
    expect_control 1004 1 - "$(ini_text 409 IDS_PROMPT)"
    expect_control 1003 1 1 "$(ini_text 409 IDS_UPDATE)"
    press 1003 || fail "could not press Update"
    inspector wait --timeout 10000 --settle 600 1:active || fail "Exit was not offered"
    read_state
    expect_control 1004 1 - "$(ini_text 409 IDS_FIND_NO_QMX)"
    expect_control 1 1 1 "$(ini_text 409 IDS_EXIT)"
    expect_control 2 1 1
    expect_control 1003 0 -
    expect_control 1001 0 -
    expect_control 1006 0 -
    expect_control 1007 0 -
    local ms
    ms=$(update_ms)
    expect_true "the message came at once (${ms:-?} ms)" test "${ms:-99999}" -lt 3000
    sleep 1
    expect_true "no worker: the provider was never called" test ! -s "$SIM/provider.log"
    expect_true "no worker: the service was never started" test ! -s "$SIM/service.log"
    press 1 || fail "could not press Exit"
    wait_exit 20 || fail "the program did not end after Exit"
    expect_eq "exit code" 0x10430001 "$(exit_code)"
  else
    fail "the window did not appear"
  fi
  end_case
}

case_closed_before_attempt() {
  begin_case closed_before_attempt "closed before any attempt"
  configure_provider
  if start_product closed "$NEWER"; then
    press 2 || fail "could not press the close cross"
    wait_exit 20 || fail "the program did not end after the close cross"
    expect_eq "exit code (cancelled)" 0x000004C7 "$(exit_code)"
    expect_true "nothing was asked of the provider" test ! -s "$SIM/provider.log"
  else
    fail "the window did not appear"
  fi
  end_case
}

# --- no provider -----------------------------------------------------------------

case_no_provider() {
  begin_case no_provider "no provider: IDS_FIND_NO_SW, device switched on and off"
  if run_update no-provider "$NEWER"; then
    expect_failure_window "$(ini_text 409 IDS_FIND_NO_SW)" 0x10430003
    expect_true "the service was started" grep -q '^started' "$SIM/service.log"
    expect_device_cycle
  fi
  end_case
}

# --- with the simulated provider -------------------------------------------------

case_success() {
  begin_case success "compatible newer image: written, Shut down and Later offered"
  configure_provider
  if ! start_product success "$NEWER"; then
    fail "the window did not appear"
    end_case
    return
  fi
  read_state
  expect_control 1004 1 - "$(ini_text 409 IDS_PROMPT)"
  expect_control 1003 1 1 "$(ini_text 409 IDS_UPDATE)"
  press 1003 || fail "could not press Update"
  sleep 3
  read_state
  # While the worker runs: spinner shown, Exit shown but disabled, the close cross disabled.
  expect_control 1006 1 -
  expect_control 1 1 0
  expect_control 2 - 0
  expect_control 1003 0 -
  if inspector wait --timeout $RESULT_TIMEOUT_MS --settle 600 --any 1:active 1007:visible; then
    read_state
    expect_control 1004 1 - "$(ini_text 409 IDS_SUCCESS)"
    expect_control 1007 1 1 "$(ini_text 409 IDS_SHUTDOWN)"
    expect_control 1008 1 1 "$(ini_text 409 IDS_SHUTDOWN_LATER)"
    expect_control 1 0 -
    expect_control 1006 0 -
    expect_true "the provider received exactly the image file's bytes" cmp -s "$NEWER" "$SIM/received.bin"
    expect_eq "UpdateFirmware calls" 1 "$(count_calls UpdateFirmware)"
    expect_eq "failed provider calls" 0 "$(grep -c 'ExecMethod .*result=0x8' "$SIM/provider.log")"
    expect_eq "ReadFirmware calls not of one aligned word" 0 \
      "$(grep 'ExecMethod method=ReadFirmware ' "$SIM/provider.log" |
        sed -n 's/.* offset=\([0-9]*\) length=\([0-9]*\) .*/\1 \2/p' | awk '$1 % 4 || $2 != 4' | wc -l)"
    local wait1 wait2
    wait1=$(seconds_between "$SIM/acpi.log" 'DEVS dev=0x00060057 state=1' "$SIM/provider.log" 'ConnectServer')
    wait2=$(seconds_between "$SIM/provider.log" 'method=UpdateFirmware' "$SIM/acpi.log" 'DEVS dev=0x00060057 state=0')
    expect_true "device on, then 10 s, then the provider (${wait1:-?} s)" awk -v s="${wait1:-0}" 'BEGIN { exit !(s >= 9.9) }'
    expect_true "update, then 10 s, then device off (${wait2:-?} s)" awk -v s="${wait2:-0}" 'BEGIN { exit !(s >= 9.9) }'

    local ms pid hwm
    ms=$(update_ms)
    figure update_wall_ms "$ms"
    figure update_wall_minus_20s_ms "$((ms - 20000))"
    figure device_on_to_off_s "$(seconds_between "$SIM/acpi.log" 'state=1' "$SIM/acpi.log" 'state=0')"
    figure provider_connect_to_update_s "$(seconds_between "$SIM/provider.log" ConnectServer "$SIM/provider.log" 'method=UpdateFirmware')"
    local method
    for method in GetCurrentNvmVersion ReadFirmware UpdateFirmware; do figure "calls_$method" "$(count_calls $method)"; done
    figure calls_GetObject "$(grep -c ' GetObject ' "$SIM/provider.log")"
    pid=$(product_pid)
    hwm=$([ -n "$pid" ] && sed -n 's/^VmHWM:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status")
    [ -z "$hwm" ] || figure wine_process_vmhwm_kb "$hwm"
    press 1008 || fail "could not press Later"
    wait_exit 20 || fail "the program did not end after Later"
    expect_eq "exit code" 0x00000000 "$(exit_code)"
    expect_device_cycle
    local peak
    peak=$(sed -n 's/^peak_working_set=\([0-9]*\).*/\1/p' "$RUN_DIR/timeline.txt")
    figure peak_working_set_kb "$((${peak:-0} / 1024))"
    figure peak_pagefile_kb "$(($(sed -n 's/.*peak_pagefile=\([0-9]*\).*/\1/p' "$RUN_DIR/timeline.txt") / 1024))"
    figure window "$(sed -n 's/^+[0-9]* window //p' "$RUN_DIR/timeline.txt")"
    figure window_shown_after_ms "$(sed -n 's/^+\([0-9]*\) window .*/\1/p' "$RUN_DIR/timeline.txt")"
  else
    fail "no result within $((RESULT_TIMEOUT_MS / 1000)) s"
  fi
  end_case
}

case_other_board() {
  begin_case other_board "image for another board: IDS_ERROR (0X10430006)"
  configure_provider
  if run_update other-board "$OTHER_BOARD"; then
    expect_failure_window "$(ini_text 409 IDS_ERROR) (0X10430006)" 0x10430006
    expect_eq "UpdateFirmware calls" 0 "$(count_calls UpdateFirmware)"
    expect_device_cycle
  fi
  end_case
}

case_older() {
  begin_case older "older image without options: IDS_DOWNGRADE"
  configure_provider
  if run_update older "$OLDER"; then
    expect_failure_window "$(ini_text 409 IDS_DOWNGRADE)" 0x1043000C
    expect_eq "UpdateFirmware calls" 0 "$(count_calls UpdateFirmware)"
  fi
  end_case
}

case_older_downgradable() {
  begin_case older_downgradable "older image with /downgradable: written"
  configure_provider
  if run_update older-downgradable "$OLDER" /downgradable; then
    expect_control 1004 1 - "$(ini_text 409 IDS_SUCCESS)"
    expect_control 1008 1 1
    expect_true "the provider received exactly the older image" cmp -s "$OLDER" "$SIM/received.bin"
    press 1008 || fail "could not press Later"
    wait_exit 20 || fail "the program did not end after Later"
    expect_eq "exit code" 0x00000000 "$(exit_code)"
  fi
  end_case
}

case_no_image() {
  begin_case no_image "no data\\*.bin: IDS_ERROR (0X10430005), device still switched off"
  configure_provider
  if run_update no-image -; then
    expect_failure_window "$(ini_text 409 IDS_ERROR) (0X10430005)" 0x10430005
    expect_true "the current version was read first" test "$(count_calls GetCurrentNvmVersion)" -ge 1
    expect_eq "ReadFirmware calls" 0 "$(count_calls ReadFirmware)"
    expect_device_cycle
  fi
  end_case
}

case_japanese_provider_error() {
  begin_case japanese_provider_error "/LID:411, provider fails UpdateFirmware with 5: Japanese texts, (0X00000005)"
  configure_provider FailUpdateFirmware=5
  LANG_ID=411
  if run_update japanese-error5 "$NEWER" /LID:411; then
    expect_failure_window "$(ini_text 411 IDS_ERROR) (0X00000005)" 0x00000005
    expect_eq "UpdateFirmware calls" 1 "$(count_calls UpdateFirmware)"
    expect_true "the provider received the image" cmp -s "$NEWER" "$SIM/received.bin"
  fi
  LANG_ID=409
  end_case
}

# --- commands that reach the window during a run -----------------------------------

case_commands_during_run() {
  begin_case commands_during_run "Update, Cancel and Exit posted during the run: one update, the window stays"
  configure_provider
  if ! start_product commands-during-run "$NEWER"; then
    fail "the window did not appear"
    end_case
    return
  fi
  press 1003 || fail "could not press Update"
  sleep 3
  local id
  for id in 1003 2 1 1003; do inspector post "$id" || fail "could not post command $id"; done
  sleep 2
  read_state
  expect_true "the window is still shown" grep -q '^window vis=1' "$RUN_DIR/state.txt"
  expect_control 1006 1 -
  expect_control 1 1 0
  if inspector wait --timeout $RESULT_TIMEOUT_MS --settle 600 --any 1:active 1007:visible; then
    read_state
    expect_control 1004 1 - "$(ini_text 409 IDS_SUCCESS)"
    expect_control 1007 1 1
    expect_eq "UpdateFirmware calls" 1 "$(count_calls UpdateFirmware)"
    expect_true "the provider received exactly the image" cmp -s "$NEWER" "$SIM/received.bin"
    inspector post 1003  # after the outcome too
    sleep 1
    read_state
    expect_control 1003 0 -
    press 1008 || fail "could not press Later"
    wait_exit 20 || fail "the program did not end after Later"
    expect_eq "exit code" 0x00000000 "$(exit_code)"
    expect_device_cycle
  else
    fail "no result within $((RESULT_TIMEOUT_MS / 1000)) s"
  fi
  end_case
}

# --- a provider that fails during the check ---------------------------------------

# The compatible newer image against a provider steered to fail: the window
# shows the failure, Exit is offered, the exit code is the status, and the
# firmware was never written. Runs side by side with other such cases.
case_fault() {  # NAME STATUS READS LOGGED KEY=VALUE...   (READS: ReadFirmware calls expected, - unchecked;
  local name=$1 status=$2 reads=$3 logged=$4  #  LOGGED: what the log says of the failed provider step)
  shift 4
  begin_case "$name" "provider fault $*: $status"
  use_run_sim "$name"
  configure_provider "$@"
  local text
  if [ "$status" = 0x10430003 ]; then
    text=$(ini_text 409 IDS_FIND_NO_SW)
  else
    text="$(ini_text 409 IDS_ERROR) (0X${status#0x})"
  fi
  if run_update "$name" "$NEWER" "/l=C:\\e2e\\$name\\log.txt"; then
    expect_failure_window "$text" "$status"
    expect_true "the log says [$logged]" grep -qF -- "$logged" "$RUN_DIR/log.txt"
    expect_eq "UpdateFirmware executions" 0 "$(count_calls UpdateFirmware)"
    expect_true "no bytes reached the provider's write" test ! -e "$SIM/received.bin"
    [ "$reads" = - ] || expect_eq "ReadFirmware calls (the fault ends the check)" "$reads" "$(count_calls ReadFirmware)"
  fi
  end_case
}

# Runs each given command line (a case with its arguments) side by side,
# E2E_JOBS at a time, each with a provider folder of its own and pressed by
# message, since the windows overlap; then reports them in order.
run_side_by_side() {
  local jobs=${E2E_JOBS:-4} i=0 entry
  local logs=()
  for entry in "$@"; do
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 0.5; done
    logs+=("$E2E_OUT/side-by-side-$i.log")
    (E2E_CLICK=message eval "$entry") >"$E2E_OUT/side-by-side-$i.log" 2>&1 &
    i=$((i + 1))
  done
  wait
  local log
  for log in "${logs[@]}"; do
    cat "$log"
    if grep -q '^PASS ' "$log"; then CASES_PASSED=$((CASES_PASSED + 1)); else CASES_FAILED=$((CASES_FAILED + 1)); fi
  done
}

case_faults() {
  # How many ReadFirmware calls the check of this pair makes: its first, a
  # middle and its last one each fail in turn.
  local reads
  reads=$(wine "$E2E_TOOLS/nvmcheck.exe" "$(winepath -w "$NEWER")" --nvm "$(winepath -w "$E2E_SAMPLES/controller.nvm")" \
    --nvm-version "$(tr -d '[:space:]' <"$E2E_SAMPLES/controller.version")" </dev/null 2>/dev/null |
    tr -d '\r' | sed -n 's/^provider reads: //p')
  if [ -z "$reads" ]; then
    begin_case faults "provider faults"
    fail "nvmcheck gave no read count"
    end_case
    return
  fi
  local runs=() fault at failed=': 0x10430003 ERR_PROVIDER_FAILED; '
  declare -A said=([FailReadFirmware]=': 0x0000001F provider code' [ShortReadFirmware]="${failed}short answer: 3 of 4 bytes"
    [OmitReadData]="${failed}the answer has no data")
  for fault in FailReadFirmware=0x1F ShortReadFirmware=1 OmitReadData=1; do
    for at in 0 $((reads / 2)) $((reads - 1)); do
      local status=0x10430003
      [ "${fault%%=*}" = FailReadFirmware ] && status=0x0000001F
      runs+=("case_fault fault_${fault%%=*}_after_$at $status $((at + 1)) '${said[${fault%%=*}]}' $fault FaultAfter=$at")
    done
  done
  local not_run='not stored (HRESULT 0x80041001), so the method was not executed'
  runs+=("case_fault fault_put_buffer 0x10430003 $reads 'UpdateFirmware 20480 bytes${failed}in-parameter Buffer $not_run' FailPut=Buffer")
  runs+=("case_fault fault_put_offset 0x10430003 0 'ReadFirmware offset 0x4, length 4${failed}in-parameter offset $not_run' FailPut=offset")
  runs+=("case_fault fault_no_version 0x10430003 0 'GetCurrentNvmVersion${failed}the answer has no NvmVersion' OmitNvmVersion=1")
  run_side_by_side "${runs[@]}"
}

# --- unattended runs: no window, the exit code, the console line, the log ------

# A run without a window: IMAGE, expected exit code, UpdateFirmware
# executions, then the options. The outcome is the exit code, no window is
# ever shown, the console it was started from gets one line with the status.
case_unattended() {  # NAME IMAGE STATUS UPDATES OPTIONS...
  local name=$1 image=$2 status=$3 updates=$4
  shift 4
  begin_case "$name" "$* with $(basename "$image"): $status"
  use_run_sim "$name"
  configure_provider
  local log="C:\\e2e\\$name\\support log.txt"
  run_silent "$name" "$image" "$@" "/l=$log"
  expect_eq "exit code" "$status" "$(exit_code)"
  expect_eq "windows shown" 0 "$(grep -c ' window ' "$RUN_DIR/timeline.txt")"
  expect_eq "UpdateFirmware executions" "$updates" "$(count_calls UpdateFirmware)"
  if [ "$updates" = 1 ]; then
    expect_true "the provider received exactly the image" cmp -s "$image" "$SIM/received.bin"
  else
    expect_true "nothing reached the provider's write" test ! -e "$SIM/received.bin"
  fi
  local name_of
  name_of=$(tr -d '\r' <"$RUN_DIR/launcher.out" | grep -m1 "^$status ")
  expect_true "the console line names the status [$name_of]" test -n "$name_of"
  if [ "$status" = 0x00000000 ]; then
    # A check says it wrote nothing; only an update says it updated.
    local said=IDS_SUCCESS
    [[ " $* " = *" /c "* ]] && said=IDS_CHECK_ONLY_OK
    expect_eq "the console text" "$status STATUS_OK $(ini_text 409 $said)" "$name_of"
  fi
  # The log: each step in order, the image's fingerprint, both layouts, the outcome.
  local text="$RUN_DIR/support log.txt" sha
  sha=$(sha256sum "$image" | cut -d' ' -f1)
  cp -f "$text" "$E2E_OUT/$name-log.txt" 2>/dev/null
  local step
  for step in "started; options: $* /l=$log" 'ACPI control device \\.\QMXACPI: open' 'device 0x00060057 on' \
    'service ThunderboltService: start requested' 'provider ROOT\Intel\Thunderbolt: connected' \
    'GetCurrentNvmVersion: 0x00000000 STATUS_OK' "image: C:\\e2e\\$name\\data\\$(basename "$image")" \
    "SHA-256 $sha" 'ReadFirmware offset 0x4, length 4: 0x00000000 STATUS_OK' 'controller: version 0x20' \
    'image: version 0x' 'check and version policy: ' 'device 0x00060057 off' "result: $status"; do
    expect_true "the log has [$step]" grep -qF -- "$step" "$text"
  done
  expect_eq "lines without their time and process id" 0 \
    "$(grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z \[[0-9]+\] ' "$text")"
  expect_eq "UpdateFirmware lines in the log" "$updates" "$(grep -cE '^[^ ]+ \[[0-9]+\] UpdateFirmware ' "$text")"
  cp -f "$RUN_DIR/launcher.out" "$E2E_OUT/$name-console.txt"
  end_case
}

case_unattended_runs() {
  local refused_row='refused by row 45 "Snk0" (mask 0xFF): controller 0x31, image 0x00'
  run_side_by_side \
    "case_unattended silent_newer '$NEWER' 0x00000000 1 /s" \
    "case_unattended silent_other_board '$OTHER_BOARD' 0x10430006 0 /S" \
    "case_unattended check_newer '$NEWER' 0x00000000 0 /c" \
    "case_unattended check_older '$OLDER' 0x1043000C 0 /c"
  begin_case silent_refusal_log "the log of a refused image names the row and both values"
  local text="$E2E_OUT/silent_other_board-log.txt"
  expect_true "[$refused_row]" grep -qF "$refused_row" "$text"
  expect_true "no UpdateFirmware line" bash -c "! grep -q UpdateFirmware '$text'"
  expect_true "the check-only run says it wrote nothing" grep -q 'check only: the image suits and would be written' \
    "$E2E_OUT/check_newer-log.txt"
  end_case
}

# --- command lines a deployment run refuses: 1639, nothing touched -------------

# The run touched nothing: no device, no provider, no log, no record.
expect_untouched() {  # LOG_FILE
  expect_true "the provider was never called" test ! -s "$SIM/provider.log"
  expect_eq "device record" "" "$(acpi_events)"
  expect_true "no log was kept" test ! -e "$1"
}

case_refused_line() {  # NAME TEXT_ON_CONSOLE ARGS...
  local name=$1 said=$2
  shift 2
  begin_case "$name" "$*: refused with 1639, nothing touched"
  use_run_sim "$name"
  configure_provider
  run_silent "$name" "$NEWER" "$@" "/l=C:\\e2e\\$name\\log.txt"
  expect_eq "exit code" 0x00000667 "$(exit_code)"
  expect_true "the console says [$said]" grep -qF -- "$said" "$RUN_DIR/launcher.out"
  expect_untouched "$RUN_DIR/log.txt"
  cp -f "$RUN_DIR/launcher.out" "$E2E_OUT/$name-console.txt"
  end_case
}

# The quoting slip as a batch file writes it, run through cmd: the runtime
# reads \" as a quote, so "/c" lands inside the log's path.
case_quoting_slip() {
  begin_case quoting_slip 'batch line /s /l="C:\logs\a b\" /c through cmd: 1639, nothing written'
  use_run_sim quoting_slip
  configure_provider
  prepare_run quoting_slip "$NEWER"
  mkdir -p "$RUN_DIR/logs/a b"
  printf '@echo off\r\ncd /d C:\\e2e\\quoting_slip\r\nTbtFwUpdate.exe /s /l="C:\\e2e\\quoting_slip\\logs\\a b\\" /c\r\necho exit=%%ERRORLEVEL%%\r\n' \
    >"$RUN_DIR/deploy.cmd"
  TBTSIM_DIR="$SIM_WIN" timeout 120 wine cmd /c 'C:\e2e\quoting_slip\deploy.cmd' </dev/null >"$RUN_DIR/cmd.out" 2>&1
  cp -f "$RUN_DIR/cmd.out" "$E2E_OUT/quoting_slip-console.txt"
  expect_true "exit 1639 [$(tr -d '\r' <"$RUN_DIR/cmd.out" | grep exit=)]" grep -q '^exit=1639' <(tr -d '\r' <"$RUN_DIR/cmd.out")
  expect_true "the console names the argument" grep -qF 'ERROR_INVALID_COMMAND_LINE unknown or malformed argument: /l=C:\e2e\quoting_slip\logs\a b" /c' "$RUN_DIR/cmd.out"
  expect_true "nothing reached the provider's write" test ! -e "$SIM/received.bin"
  expect_untouched "$RUN_DIR/logs/a b/log.txt"
  expect_eq "files in the log folder" "" "$(ls -A "$RUN_DIR/logs/a b")"
  end_case
}

case_refused_lines() {
  run_side_by_side \
    "case_refused_line check_typo 'ERROR_INVALID_COMMAND_LINE unknown or malformed argument: /check' /s /check" \
    "case_refused_line silent_help 'TbtFwUpdate [/s | /c] [/l=PATH]' /s '/?'"
  case_quoting_slip
}

# --- the record fleet tools read ------------------------------------------------

reg_value() {  # NAME: the value's data as reg prints it
  $WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /v "$1" </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

case_record() {
  begin_case record "after /s and /c the registry holds the last attempt and the last check"
  $WINE64 reg delete 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /f </dev/null >/dev/null 2>&1
  use_run_sim record_update
  configure_provider
  run_silent record_update "$NEWER" /s
  expect_eq "exit code of /s" 0x00000000 "$(exit_code)"
  local sha version
  sha=$(sha256sum "$NEWER" | cut -d' ' -f1)
  version=$(tr -d '[:space:]' <"$E2E_SAMPLES/controller.version")
  $WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' </dev/null 2>&1 | tr -d '\r' >"$E2E_OUT/record-after-s.txt"
  expect_eq "LastAttemptStatus" 0x0 "$(reg_value LastAttemptStatus)"
  expect_eq "LastAttemptImageSha256" "$sha" "$(reg_value LastAttemptImageSha256)"
  expect_eq "ControllerVersion" "$(printf '0x%x' "$version")" "$(reg_value ControllerVersion)"
  expect_true "LastAttemptTime is ISO 8601 UTC [$(reg_value LastAttemptTime)]" \
    grep -qE '^20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]Z$' <<<"$(reg_value LastAttemptTime)"
  local attempt_time
  attempt_time=$(reg_value LastAttemptTime)
  use_run_sim record_check
  configure_provider
  run_silent record_check "$OLDER" /c
  expect_eq "exit code of /c" 0x1043000C "$(exit_code)"
  $WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' </dev/null 2>&1 | tr -d '\r' >"$E2E_OUT/record-after-c.txt"
  expect_eq "LastCheckStatus" 0x1043000c "$(reg_value LastCheckStatus)"
  expect_eq "the check left LastAttemptImageSha256" "$sha" "$(reg_value LastAttemptImageSha256)"
  expect_eq "the check left LastAttemptStatus" 0x0 "$(reg_value LastAttemptStatus)"
  expect_eq "the check left LastAttemptTime" "$attempt_time" "$(reg_value LastAttemptTime)"
  end_case
}

# --- an install folder of about 330 characters of Japanese ------------------------

case_long_japanese_path() {
  begin_case long_japanese_path "installed about 330 characters deep in Japanese: the log is valid UTF-8 and whole"
  use_run_sim long_japanese_path
  configure_provider
  # Four folders of 80 characters (240 bytes: a Linux name holds 255 at most).
  local part folder=long_japanese_path i
  part=$(printf 'ファームウェア更新%.0s' $(seq 1 9))
  part=${part:0:80}
  for i in 1 2 3 4; do folder="$folder/$part"; done
  prepare_run "$folder" "$NEWER"
  local chars
  chars=$(printf '%s' "$RUN_WIN" | wc -m)
  expect_true "the install folder has $chars characters" test "$chars" -ge 330
  run_silent "$folder" "$NEWER" /s "/l=C:\\e2e\\long.log"
  local text="$WINEPREFIX/drive_c/e2e/long.log"
  cp -f "$text" "$E2E_OUT/long_japanese_path-log.txt" 2>/dev/null
  expect_eq "exit code" 0x00000000 "$(exit_code)"
  expect_true "the log is valid UTF-8" iconv -f UTF-8 -t UTF-8 "$text" -o /dev/null
  expect_true "the log names the whole image path" grep -qF "image: $RUN_WIN\\data\\$(basename "$NEWER")" "$text"
  expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  rm -f "$text"
  end_case
}

# Cases in the order they run, grouped by prefix; E2E_CASES (a regular
# expression over the names) picks some of them.
PLAN=(
  "NOACPI no_acpi" "NOACPI closed_before_attempt"
  "NOPROVIDER no_provider"
  "FULL standins" "FULL success" "FULL other_board" "FULL older" "FULL older_downgradable" "FULL no_image"
  "FULL japanese_provider_error" "FULL commands_during_run" "FULL faults" "FULL unattended_runs"
  "FULL refused_lines" "FULL record" "FULL long_japanese_path"
)
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
