# shellcheck shell=bash
# Runs without a window (/s, /c): the exit code, the console line, the log.
# Sourced by run_e2e.sh, which holds the shared helpers and the plan.

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
    expect_true "the log has [$step]" log_has "$step" "$text"
  done
  expect_eq "lines without their time and process id" 0 \
    "$(grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z \[[0-9]+\] ' "$text")"
  expect_eq "UpdateFirmware lines in the log" "$updates" "$(grep -cE '^[^ ]+ \[[0-9]+\] UpdateFirmware ' "$text")"
  cp -f "$RUN_DIR/launcher.out" "$E2E_OUT/$name-console.txt"
  end_case
}

case_unattended_runs() {
  local refused_row='refused by row 45 "Snk0" (mask 0xFF): controller 0x31, image 0x00'
  run_each \
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

