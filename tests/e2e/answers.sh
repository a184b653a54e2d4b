# shellcheck shell=bash
# What the provider answers after the hand-over, and what a run remembers of
# this boot: no answer passes for one of the tool's own outcomes, a write
# without an answer is unknown, and nothing follows a write before a restart.
# Sourced by run_e2e.sh, which holds the shared helpers and the plan.

# The provider answers the write with one of the tool's own codes: the run
# reports the provider's failure, with the value it gave, never "nothing was
# written" nor "no attempt".
case_reserved_answer() {  # NAME CODE
  local name=$1 code=$2
  begin_case "$name" "UpdateFirmware answers $code: 0x10430015, the value on record"
  use_run_sim "$name"
  configure_provider "FailUpdateFirmware=$code"
  run_silent "$name" "$NEWER" /s "/l=C:\\e2e\\$name\\log.txt"
  expect_eq "exit code" 0x10430015 "$(exit_code)"
  expect_true "the console names the provider's failure" grep -q '^0x10430015 ERR_PROVIDER_CODE_RESERVED ' "$RUN_DIR/launcher.out"
  expect_true "the provider received the image" cmp -s "$NEWER" "$SIM/received.bin"
  expect_eq "LastAttemptStatus" 0x10430015 "$(reg_value LastAttemptStatus)"
  expect_eq "LastAttemptProviderCode" "$(printf '0x%x' "$code")" "$(reg_value LastAttemptProviderCode)"
  expect_true "the log keeps the provider's value" grep -qi "ReturnValue $(printf '0x%08X' "$code")" "$RUN_DIR/log.txt"
  expect_true "nothing says the write never was" \
    bash -c "! grep -qE 'ERROR_SHUTDOWN_IN_PROGRESS|ERROR_CANCELLED|nothing was written' '$RUN_DIR/launcher.out' '$RUN_DIR/log.txt'"
  end_case
}

case_provider_answers() {
  run_each "case_reserved_answer answer_1115 0x45B" "case_reserved_answer answer_1223 0x4C7" \
    "case_reserved_answer answer_own_family 0x10430005"
}

# The write happens and the call fails without an answer: the outcome is
# unknown, the device stays on, and the next run in this boot touches
# nothing; after a restart the update goes on.
case_unanswered_write() {
  begin_case unanswered_write "the write, then the call fails: 0x10430013 on record, the device left on, refused until a restart"
  configure_provider UpdateCallFault=exec
  run_silent unanswered "$NEWER" /s '/l=C:\e2e\unanswered\log.txt'
  expect_eq "exit code" 0x10430013 "$(exit_code)"
  expect_true "the provider received the image" cmp -s "$NEWER" "$SIM/received.bin"
  expect_eq "LastAttemptStatus" 0x10430013 "$(reg_value LastAttemptStatus)"
  expect_eq "device record: left on, the provider may still write" "OPEN
DEVS 0x00060057 1
CLOSE" "$(acpi_events)"
  configure_provider
  KEEP_RECORDS=1 run_silent unanswered-again "$NEWER" /c '/l=C:\e2e\unanswered-again\log.txt'
  expect_eq "a check in the same boot: exit code" 0x10430014 "$(exit_code)"
  expect_true "it names the attempt without an answer" \
    grep -q 'record: the attempt of 20.*Z was interrupted during the write or ended without the provider' "$RUN_DIR/log.txt"
  expect_eq "it touched nothing" "OPEN
DEVS 0x00060057 1
CLOSE" "$(acpi_events)"
  expect_eq "LastAttemptStatus unchanged" 0x10430013 "$(reg_value LastAttemptStatus)"
  use_prefix "$WINEPREFIX"  # a restart: the program's note of the boot goes with it
  configure_provider
  KEEP_RECORDS=1 run_silent unanswered-restarted "$NEWER" /s '/l=C:\e2e\unanswered-restarted\log.txt'
  expect_eq "after a restart: exit code" 0x00000000 "$(exit_code)"
  expect_eq "after a restart: the device switched on and off" "OPEN
DEVS 0x00060057 1
DEVS 0x00060057 0
CLOSE" "$(acpi_events | tail -n 4)"
  end_case
}

# A success, then the same image again in the same boot (a person pressing
# Update again, a deployment tool re-running): not written twice, the success
# said again; another image waits for a restart.
case_written_this_boot() {
  begin_case written_this_boot "written, then the same image again: exit 0, nothing touched; another image: 0x10430014"
  configure_provider
  run_silent written "$NEWER" /s '/l=C:\e2e\written\log.txt'
  expect_eq "exit code" 0x00000000 "$(exit_code)"
  local record
  record=$($WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /reg:64 </dev/null 2>/dev/null | tr -d '\r')
  KEEP_RECORDS=1 run_silent written-again "$NEWER" /s '/l=C:\e2e\written-again\log.txt'
  expect_eq "the same image again: exit code" 0x00000000 "$(exit_code)"
  expect_true "its console says the update is written and waits for a shutdown" \
    grep -qF "0x00000000 STATUS_OK $(ini_text 409 IDS_SUCCESS)" "$RUN_DIR/launcher.out"
  expect_true "its log says why" grep -q 'is not written again' "$RUN_DIR/log.txt"
  expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  expect_device_cycle
  expect_eq "the record is the write's" "$record" \
    "$($WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /reg:64 </dev/null 2>/dev/null | tr -d '\r')"
  KEEP_RECORDS=1 run_silent written-other "$OLDER" /s /downgradable '/l=C:\e2e\written-other\log.txt'
  expect_eq "another image: exit code" 0x10430014 "$(exit_code)"
  expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  expect_device_cycle
  end_case
}
