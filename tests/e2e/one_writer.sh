# shellcheck shell=bash
# One update per machine: a second run, silent or in a window, touches nothing while another holds the machine.
# Sourced by run_e2e.sh, which holds the shared helpers and the plan.

# --- one update per machine; nothing of the machine's own interrupts it --------

# The log of a run that found another update holding the machine: it says so,
# and the device was never opened.
expect_refused_as_busy() {  # DIR LOG
  expect_eq "exit code of the second run" 0x1043000E "$(exit_code "$1")"
  expect_true "its console line names the status" grep -q '^0x1043000E ERR_ALREADY_RUNNING ' "$1/launcher.out"
  expect_true "its log says another update holds the machine" grep -q 'update lock: held by another run of this tool' "$2"
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
  # The silent run is held inside its write, the lock in hand, until the
  # window has been refused: however slow the window is to start.
  rm -f "$SIM/hold.log"
  hold_arm "UpdateFirmware 1"
  launch_silent silent-writing "$NEWER" /s
  local silent_dir=$SILENT_DIR silent_pid=$SILENT
  hold_wait UpdateFirmware || fail "the silent run did not reach its write"
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
      grep -q 'update lock: held by another run of this tool' "$RUN_DIR/log.txt"
  else
    fail "the window did not appear"
  fi
  hold_release
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

# A program takes the lock's name first, as a mutex with a DACL that grants
# nobody anything, as an event or as a semaphore: the run is not told another
# update runs; it names the squatter.
case_lock_name_taken() {
  begin_case lock_name_taken "the lock's name held by a deny-all mutex, an event, a semaphore: 0x10430012, said as it is, nothing touched"
  configure_provider
  local kind said
  for kind in mutex event semaphore; do
    # Lets the name go by itself after 8 s, before the next run.
    inspector squat 8000 "$kind" >"$E2E_OUT/squat-$kind.out" &
    local squatter=$!
    sleep 2
    run_silent "lock-taken-$kind" "$NEWER" /s "/l=C:\\e2e\\lock-taken-$kind\\log.txt"
    wait "$squatter"
    expect_eq "the squatter held the name as a $kind" holding "$(tr -d '\r' <"$E2E_OUT/squat-$kind.out")"
    expect_eq "exit code ($kind)" 0x10430012 "$(exit_code)"
    expect_true "its console line names the status ($kind)" grep -q '^0x10430012 ERR_LOCK_NOT_OURS ' "$RUN_DIR/launcher.out"
    case $kind in
      mutex) said='exists but grants this run no access' ;;
      event) said='is held by an object of type Event (owner S-1-5-' ;;
      semaphore) said='is held by an object of type Semaphore (owner S-1-5-' ;;
    esac
    expect_true "its log names what holds the name ($kind)" grep -qF "$said" "$RUN_DIR/log.txt"
    expect_true "nothing claims another update ($kind)" \
      bash -c "! grep -qi -e 'another update' -e 'another run' -e ERR_ALREADY_RUNNING '$RUN_DIR/launcher.out' '$RUN_DIR/log.txt'"
    expect_true "it never opened the device ($kind)" bash -c "! grep -q 'ACPI control device' '$RUN_DIR/log.txt'"
    cp -f "$RUN_DIR/log.txt" "$E2E_OUT/lock_name_taken-$kind-log.txt" 2>/dev/null
  done
  end_case
}
