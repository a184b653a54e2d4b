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
  expect_control 2 1 1 "$(ini_text $LANG_ID IDS_EXIT)"  # the close cross's name
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
    expect_true "every visible button has a name" \
      test -z "$(grep -E $'^(1|2|1003|1007|1008) vis=1 en=[01] text=\r?$' "$RUN_DIR/state.txt")"
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
  if run_update "$name" "$NEWER" "/l=C:\\e2e\\$name\\log.txt"; then
    # Read from this run's copy of the texts, whichever case ran before.
    if [ "$status" = 0x10430003 ]; then
      text=$(ini_text 409 IDS_FIND_NO_SW)
    else
      text="$(ini_text 409 IDS_ERROR) (0X${status#0x})"
    fi
    expect_failure_window "$text" "$status"
    expect_true "the log says [$logged]" grep -qF -- "$logged" "$RUN_DIR/log.txt"
    expect_eq "UpdateFirmware executions" 0 "$(count_calls UpdateFirmware)"
    expect_true "no bytes reached the provider's write" test ! -e "$SIM/received.bin"
    [ "$reads" = - ] || expect_eq "ReadFirmware calls (the fault ends the check)" "$reads" "$(count_calls ReadFirmware)"
  fi
  end_case
}

# Runs each given command line (a case with its arguments), each with a
# provider folder of its own and pressed by message; then reports them in
# order. One at a time: a prefix is one machine, and the program lets one
# update run per machine, so overlapping runs would refuse each other.
run_side_by_side() {
  local jobs=1 i=0 entry
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

# --- DLLs planted beside the program ----------------------------------------------

# Windows 7's KnownDLLs, which Windows maps from its own copies only.
KNOWN_DLLS=" advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt ntdll ole32 oleaut32 rpcrt4 sechost shell32 shlwapi user32 ws2_32 "
# What the program imported before it delay-loaded them: planted whatever a run shows.
FORMER_IMPORTS="version powrprof bcrypt gdiplus comctl32"

# The system DLLs a WINEDEBUG=+loaddll record shows loaded that are not
# KnownDLLs, so Windows would look for them beside the program first.
loaded_dlls() {  # RECORD...
  cat "$@" | tr -d '\r' | sed -n 's/.*:loaddll:.*Loaded L"[Cc]:\\\\windows\\\\\(system32\|syswow64\)\\\\\([^"\\]*\)\.dll".*/\2/p' |
    tr 'A-Z' 'a-z' | sort -u | while read -r d; do [[ "$KNOWN_DLLS" == *" $d "* ]] || echo "$d"; done
}

# Which DLLs a record shows loaded from the folder FOLDER_WIN (C:\...), by name.
dlls_loaded_from() {  # FOLDER_WIN RECORD...
  local folder=$1
  shift
  cat "$@" | tr -d '\r' | grep -F -i "Loaded L\"${folder//\\/\\\\}\\\\" | sed -n 's/.*\\\\\([^"\\]*\)\.dll".*/\1/p' |
    tr 'A-Z' 'a-z' | sort -u | tr '\n' ' '
}

# The compiler for the program's architecture, and where Wine keeps its own DLLs.
plant_toolchain() {
  if x86_64-w64-mingw32-objdump -f "$E2E_PRODUCT/TbtFwUpdate.exe" | grep -q 'pei-i386'; then
    PLANT_ARCH=i686 PLANT_STUB=planted_stub@16 PLANT_RUNDLL='C:\windows\syswow64\rundll32.exe'
  else
    PLANT_ARCH=x86_64 PLANT_STUB=planted_stub PLANT_RUNDLL=rundll32
  fi
  if [ $PLANT_ARCH = i686 ]; then
    PLANT_WINEDLLS=/usr/lib/i386-linux-gnu/wine/i386-windows
  else
    PLANT_WINEDLLS=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  fi
}

# Builds planted_dll.c as DIR/NAME.dll for each NAME, exporting every name
# Wine's own NAME.dll exports, all leading to the one stub.
plant_dlls() {  # DIR NAME...
  local dir=$1 name def
  shift
  mkdir -p "$E2E_OUT/planted"
  for name in "$@"; do
    def="$E2E_OUT/planted/$name.def"
    {
      echo "LIBRARY $name.dll"
      echo EXPORTS
      [ -f "$PLANT_WINEDLLS/$name.dll" ] && "$PLANT_ARCH-w64-mingw32-objdump" -p "$PLANT_WINEDLLS/$name.dll" |
        sed -n 's/^\s*\[\s*[0-9]*\] \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' | grep -vx planted_stub | sort -u |
        sed "s/\$/=$PLANT_STUB/"
      echo "planted_stub=$PLANT_STUB"
    } >"$def"
    "$PLANT_ARCH-w64-mingw32-gcc" -shared -s -o "$dir/$name.dll" "$(dirname "$0")/planted_dll.c" "$def" || return 1
  done
}

# A program that does nothing, importing the KnownDLLs the product imports:
# what Wine itself loads at the start of any such program (its builtins'
# own dependencies, which Windows resolves from the KnownDLLs) is no doing of
# the product's.
build_reference_exe() {  # OUT.exe
  local dll use="" libs=""
  for dll in $(x86_64-w64-mingw32-objdump -p "$E2E_PRODUCT/TbtFwUpdate.exe" | sed -n 's/^\s*DLL Name: \(.*\)\.[dD][lL][lL]$/\1/p' |
    tr 'A-Z' 'a-z'); do
    [[ "$KNOWN_DLLS" == *" $dll "* ]] || continue
    case $dll in
      advapi32) use+="(void*)RegCloseKey," ;; gdi32) use+="(void*)GetStockObject," ;;
      ole32) use+="(void*)CoInitialize," ;; oleaut32) use+="(void*)SysFreeString," ;;
      shell32) use+="(void*)CommandLineToArgvW," ;; user32) use+="(void*)MessageBoxW," ;;
      shlwapi) use+="(void*)PathFileExistsW," ;; comdlg32) use+="(void*)GetOpenFileNameW," ;;
      imm32) use+="(void*)ImmGetContext," ;; rpcrt4) use+="(void*)UuidCreate," ;; ws2_32) use+="(void*)WSAGetLastError," ;;
      *) continue ;;
    esac
    libs+=" -l$dll"
  done
  printf '%s\n' '#include <winsock2.h>' '#include <windows.h>' '#include <commdlg.h>' '#include <shlwapi.h>' \
    '#include <shellapi.h>' '#include <rpc.h>' '#include <stdio.h>' \
    "void* volatile g_uses[] = {$use 0};" 'int main(void) { return g_uses[0] ? 0 : 1; }' >"$E2E_OUT/planted/reference.c"
  # shellcheck disable=SC2086
  "$PLANT_ARCH-w64-mingw32-gcc" -o "$1" "$E2E_OUT/planted/reference.c" $libs
}

case_planted_dlls() {
  begin_case planted_dlls "copies of the DLLs it loads planted beside the program, native-first forced: none runs"
  use_run_sim planted
  configure_provider
  plant_toolchain
  mkdir -p "$E2E_OUT/planted"
  local names records=()
  # Which DLLs a silent run and a window run load, in Wine's usual order.
  WINEDEBUG=+loaddll run_silent planted-silent-1 "$OTHER_BOARD" /s
  expect_eq "exit code of the first silent run" 0x10430006 "$(exit_code)"
  records+=("$RUN_DIR/launcher.out")
  if WINEDEBUG=+loaddll start_product planted-window-1 "$NEWER" 2>/dev/null; then
    press 2 || fail "could not press the close cross"
    wait_exit 20 || fail "the window did not end after the close cross"
    expect_eq "exit code of the first window run" 0x000004C7 "$(exit_code)"
  else
    fail "the window did not appear"
  fi
  records+=("$RUN_DIR/launcher.out")
  names=$(printf '%s\n' $FORMER_IMPORTS $(loaded_dlls "${records[@]}") | sort -u | tr '\n' ' ')
  expect_true "the runs loaded the delay-loaded DLLs [$names]" \
    bash -c "[[ ' $names ' == *' gdiplus '* && ' $names ' == *' bcrypt '* && ' $names ' == *' powrprof '* ]]"

  # Wine's own start-up set: what a program that does nothing loads from its
  # folder with native-first forced for every name.
  local overrides wine_own ref_dir="$WINEPREFIX/drive_c/e2e/planted-reference"
  overrides="$WINEDLLOVERRIDES;$(echo $names | tr ' ' ',')=n,b"
  rm -rf "$ref_dir" && mkdir -p "$ref_dir"
  build_reference_exe "$ref_dir/reference.exe" || fail "could not build the reference program"
  plant_dlls "$ref_dir" $names || fail "could not build the planted DLLs"
  WINEDLLOVERRIDES=$overrides wine "$PLANT_RUNDLL" 'C:\e2e\planted-reference\version.dll,planted_stub' </dev/null >/dev/null 2>&1
  expect_true "a planted DLL that is loaded leaves its mark" test -f "$ref_dir/version.dll.ran"
  rm -f "$ref_dir"/*.ran
  WINEDLLOVERRIDES=$overrides WINEDEBUG=+loaddll wine 'C:\e2e\planted-reference\reference.exe' </dev/null \
    >"$ref_dir/record.txt" 2>&1
  wine_own=$(dlls_loaded_from 'C:\e2e\planted-reference' "$ref_dir/record.txt")
  echo "  loaded by Wine's own start of any program, left to Wine's order: ${wine_own:-none}"
  figure planted_dlls "$(echo $names | tr ' ' ',')"
  figure planted_wine_own "$(echo $wine_own | tr ' ' ',')"
  local forced=""
  for name in $names; do [[ " $wine_own " == *" $name "* ]] || forced+="$name,"; done
  overrides="$WINEDLLOVERRIDES;${forced%,}=n,b"
  echo "  native-first: ${forced%,}"
  expect_true "native-first forced for the delay-loaded DLLs" \
    bash -c "[[ ',$forced' == *',gdiplus,'* && ',$forced' == *',powrprof,'* ]]"

  # The same runs with a planted copy beside the program of each that Wine
  # does not load for itself before any code of the program runs.
  local silent_dir window_dir
  prepare_run planted-silent "$OTHER_BOARD"
  silent_dir=$RUN_DIR
  plant_dlls "$RUN_DIR" ${forced//,/ } || fail "could not build the planted DLLs"
  WINEDLLOVERRIDES=$overrides WINEDEBUG=+loaddll run_silent_prepared /s
  expect_eq "exit code of the silent run" 0x10430006 "$(exit_code)"
  expect_eq "UpdateFirmware executions" 0 "$(count_calls UpdateFirmware)"
  records=("$RUN_DIR/launcher.out")
  expect_eq "DLLs the silent run loaded from its folder" "" "$(dlls_loaded_from 'C:\e2e\planted-silent' "$RUN_DIR/launcher.out")"

  prepare_run planted-window "$NEWER"
  window_dir=$RUN_DIR
  plant_dlls "$RUN_DIR" ${forced//,/ } || fail "could not build the planted DLLs"
  if WINEDLLOVERRIDES=$overrides WINEDEBUG=+loaddll start_prepared_product 2>/dev/null; then
    read_state
    expect_control 1004 1 - "$(ini_text 409 IDS_PROMPT)"
    press 2 || fail "could not press the close cross"
    wait_exit 20 || fail "the window did not end after the close cross"
    expect_eq "exit code of the window run" 0x000004C7 "$(exit_code)"
  else
    fail "the window did not appear"
  fi
  expect_eq "DLLs the window run loaded from its folder" "" "$(dlls_loaded_from 'C:\e2e\planted-window' "$RUN_DIR/launcher.out")"
  expect_eq "planted DLLs whose DllMain ran" "" "$(cd "$silent_dir" && ls -- *.ran 2>/dev/null; cd "$window_dir" && ls -- *.ran 2>/dev/null)"
  end_case
}

# --- one update per machine; nothing of the machine's own interrupts it --------

# The log of a run that found another update holding the machine: it says so,
# and the device was never opened.
expect_refused_as_busy() {  # DIR LOG
  expect_eq "exit code of the second run" 0x1043000E "$(exit_code "$1")"
  expect_true "its console line names the status" grep -q '^0x1043000E ERR_ALREADY_RUNNING ' "$1/launcher.out"
  expect_true "its log says another update holds the machine" grep -q 'update lock: held by another update' "$2"
  expect_true "its log ends with the status" grep -q 'result: 0x1043000E ERR_ALREADY_RUNNING' "$2"
  expect_true "it never opened the device" bash -c "! grep -q 'ACPI control device' '$2'"
}

case_two_silent_runs() {
  begin_case two_silent_runs "two silent runs from two folders, a second apart: one writes, the other touches nothing"
  configure_provider
  reset_records
  local first second
  launch_silent two-silent-1 "$NEWER" /s '/l=C:\e2e\two-silent-1\log.txt'
  first=$SILENT_DIR
  local pid1=$SILENT
  sleep 1
  KEEP_RECORDS=1 launch_silent two-silent-2 "$NEWER" /s '/l=C:\e2e\two-silent-2\log.txt'
  second=$SILENT_DIR
  wait "$SILENT"
  expect_true "the second run ended while the first still ran" kill -0 "$pid1"
  wait "$pid1"
  expect_eq "exit code of the first run" 0x00000000 "$(exit_code "$first")"
  expect_refused_as_busy "$second" "$second/log.txt"
  expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  expect_true "the provider received exactly the image" cmp -s "$NEWER" "$SIM/received.bin"
  expect_device_cycle
  cp -f "$second/log.txt" "$E2E_OUT/two_silent_runs-second-log.txt" 2>/dev/null
  end_case
}

case_window_while_silent_writes() {
  begin_case window_while_silent_writes "Update pressed while a silent run writes: IDS_BUSY, Exit, the device untouched"
  configure_provider
  reset_records
  launch_silent silent-writing "$NEWER" /s
  local silent_dir=$SILENT_DIR silent_pid=$SILENT
  sleep 3
  if KEEP_RECORDS=1 start_product window-busy "$NEWER" '/l=C:\e2e\window-busy\log.txt'; then
    press 1003 || fail "could not press Update"
    inspector wait --timeout 10000 --settle 600 1:active || fail "Exit was not offered"
    read_state
    expect_control 1004 1 - "$(ini_text 409 IDS_BUSY)"
    expect_control 1 1 1
    expect_control 1003 0 -
    expect_control 1006 0 -
    local ms
    ms=$(update_ms)
    expect_true "the message came at once (${ms:-?} ms)" test "${ms:-99999}" -lt 3000
    expect_true "the silent run still writes" kill -0 "$silent_pid"
    press 1 || fail "could not press Exit"
    wait_exit 20 || fail "the program did not end after Exit"
    expect_eq "exit code of the window" 0x1043000E "$(exit_code)"
    expect_true "the window's log says another update holds the machine" \
      grep -q 'update lock: held by another update' "$RUN_DIR/log.txt"
  else
    fail "the window did not appear"
  fi
  wait "$silent_pid"
  expect_eq "exit code of the silent run" 0x00000000 "$(exit_code "$silent_dir")"
  expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  expect_device_cycle
  end_case
}

case_check_during_window_write() {
  begin_case check_during_window_write "a check-only run while the window's update runs: 0x1043000E, the window's update completes"
  configure_provider
  if ! start_product window-writing "$NEWER"; then
    fail "the window did not appear"
    end_case
    return
  fi
  local window_dir=$RUN_DIR
  press 1003 || fail "could not press Update"
  sleep 3
  KEEP_RECORDS=1 launch_silent check-during "$NEWER" /c '/l=C:\e2e\check-during\log.txt'
  local check_dir=$SILENT_DIR
  wait "$SILENT"
  expect_refused_as_busy "$check_dir" "$check_dir/log.txt"
  RUN_DIR=$window_dir
  RUN_WIN='C:\e2e\window-writing'
  if inspector wait --timeout $RESULT_TIMEOUT_MS --settle 600 --any 1:active 1007:visible; then
    read_state
    expect_control 1004 1 - "$(ini_text 409 IDS_SUCCESS)"
    expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
    expect_true "the provider received exactly the image" cmp -s "$NEWER" "$SIM/received.bin"
    press 1008 || fail "could not press Later"
    wait_exit 20 || fail "the program did not end after Later"
    expect_eq "exit code of the window" 0x00000000 "$(exit_code)"
    expect_device_cycle
  else
    fail "no result within $((RESULT_TIMEOUT_MS / 1000)) s"
  fi
  end_case
}

# A log-off during the write (UpdateFirmware takes 8 s here): refused by the
# silent run's hidden window; the write completes and the device goes off.
case_end_session_during_write() {
  begin_case end_session_during_write "wineboot --end-session while UpdateFirmware runs: refused, written, device off"
  configure_provider UpdateLatencyMs=8000
  launch_silent end-session "$NEWER" /s '/l=C:\e2e\end-session\log.txt'
  local pid=$SILENT
  # The device goes on, 10 s pass, the provider is connected and the check
  # made in under a second: 14 s in, UpdateFirmware is running.
  sleep 14
  expect_true "the run is still writing" kill -0 "$pid"
  wineboot --end-session </dev/null >"$RUN_DIR/end-session.out" 2>&1
  wait "$pid"
  expect_eq "exit code" 0x00000000 "$(exit_code)"
  expect_true "the log-off was refused" grep -q 'log-off or shutdown requested during the update: refused' "$RUN_DIR/log.txt"
  expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  expect_true "the provider received exactly the image" cmp -s "$NEWER" "$SIM/received.bin"
  expect_device_cycle
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
  "FULL planted_dlls"
  "FULL two_silent_runs" "FULL window_while_silent_writes" "FULL check_during_window_write"
  "FULL end_session_during_write"
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
