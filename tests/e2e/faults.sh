# shellcheck shell=bash
# A provider steered to fail at each step of the check: the window shows the failure and nothing is written.
# Sourced by run_e2e.sh, which holds the shared helpers and the plan.

# --- a provider that fails during the check ---------------------------------------

# The compatible newer image against a provider steered to fail: the window
# shows the failure, Exit is offered, the exit code is the status, and the
# firmware was never written.
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
  run_each "${runs[@]}"
}

