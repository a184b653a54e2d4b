# shellcheck shell=bash
# The session ends during a run: what a run may refuse, and what it does when the session ends anyway.
# Sourced by run_e2e.sh, which holds the shared helpers and the plan.

# A log-off during the write (UpdateFirmware takes 8 s here): refused by the
# silent run's hidden window; the write completes and the device goes off.
case_end_session_during_write() {
  begin_case end_session_during_write "wineboot --end-session while UpdateFirmware runs: refused, written, device off"
  configure_provider UpdateLatencyMs=8000
  launch_silent end-session "$NEWER" /s '/l=C:\e2e\end-session\log.txt'
  local pid=$SILENT
  expect_true "the image was handed over" wait_for_text 'UpdateFirmware: handing the image' "$RUN_DIR/log.txt" 60
  expect_true "the run is still writing" kill -0 "$pid"
  wineboot --end-session </dev/null >"$RUN_DIR/end-session.out" 2>&1
  wait "$pid"
  expect_eq "exit code" 0x00000000 "$(exit_code)"
  expect_true "the log-off was refused" grep -q 'log-off or shutdown requested during the write: refused' "$RUN_DIR/log.txt"
  expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  expect_true "the provider received exactly the image" cmp -s "$NEWER" "$SIM/received.bin"
  expect_device_cycle
  end_case
}


# Seconds between the first log lines that match two patterns (same day).
log_seconds() {  # LOG PATTERN1 PATTERN2
  local a b
  a=$(grep -m1 "$2" "$1" | cut -c12-23)
  b=$(grep -m1 "$3" "$1" | cut -c12-23)
  [ -n "$a" ] && [ -n "$b" ] && awk -v a="$a" -v b="$b" 'BEGIN {
    split(a, x, ":"); split(b, y, ":"); printf "%.3f", (y[1]-x[1])*3600 + (y[2]-x[2])*60 + y[3]-x[3] }'
}

# Windows' forced end of a session in a run's first wait, once its log says
# the wait has begun: the warning, then WM_ENDSESSION TRUE. $1: what the
# warning must be answered.
end_session_in_first_wait() {
  expect_true "the first wait began" \
    wait_for_text 'service ThunderboltService: start requested; waiting 10000 ms' "$RUN_DIR/log.txt" 60
  expect_eq "WM_QUERYENDSESSION answered" "$1" "$(inspector session query | tr -d '\r')"
  inspector session end 1 >/dev/null 2>&1
}

# No UpdateFirmware, the device switched off and the run ended at once, 1115
# for the exit code and on record ($1: the value that holds it).
expect_stopped_by_session_end() {
  expect_eq "exit code" 0x0000045B "$(exit_code)"
  local calls s
  calls=$(count_calls UpdateFirmware)
  expect_eq "UpdateFirmware executions" 0 "${calls:-0}"
  expect_device_cycle
  s=$(log_seconds "$RUN_DIR/log.txt" 'before any write: nothing will be written' 'device 0x00060057 off')
  figure "session_end_to_device_off_s_${RUN_DIR##*/}" "$s"
  expect_true "the device went off ${s:-?} s after the session end reached the run (no settle wait)" \
    awk -v s="${s:-99}" 'BEGIN { exit !(s < 2) }'
  expect_eq "$1" 0x45b "$(reg_value "$1")"
  expect_true "the log says nothing was written" grep -q 'nothing will be written' "$RUN_DIR/log.txt"
  expect_true "the log ends with 1115" grep -q 'result: 0x0000045B ERROR_SHUTDOWN_IN_PROGRESS' "$RUN_DIR/log.txt"
}

# A silent run (OPTION /s or /c) whose session ends in its first wait, before any write;
# its record VALUE and log say so.
silent_run_ended_by_session() {  # NAME OPTION VALUE
  unset INSPECT_PID  # a window's of an earlier run
  launch_silent "$1" "$NEWER" "$2" "/l=C:\\e2e\\$1\\log.txt"
  end_session_in_first_wait 1
  wait "$SILENT"
  RUN_DIR=$SILENT_DIR expect_stopped_by_session_end "$3"
}

case_session_end_before_write() {
  begin_case session_end_before_write "a forced session end in the first wait: silent, window, check: nothing written, 1115"
  configure_provider
  silent_run_ended_by_session end-before-silent /s LastAttemptStatus
  expect_true "its console line names 1115" grep -q '^0x0000045B ERROR_SHUTDOWN_IN_PROGRESS ' "$SILENT_DIR/launcher.out"
  configure_provider
  if start_product end-before-window "$NEWER" '/l=C:\e2e\end-before-window\log.txt'; then
    press 1003 || fail "could not press Update"
    end_session_in_first_wait 0
    wait_exit 5 || fail "the window did not end"
    expect_stopped_by_session_end LastAttemptStatus
  else
    fail "the window did not appear"
  fi
  # A check is never a reason to hold off the session.
  configure_provider
  silent_run_ended_by_session end-before-check /c LastCheckStatus
  expect_true "the check did not refuse" grep -q 'during a check: not refused' "$SILENT_DIR/log.txt"
  end_case
}

case_session_end_at_prompt() {
  begin_case session_end_at_prompt "the session ends while the window waits at its prompt: 1223, not 0"
  configure_provider
  if start_product end-at-prompt "$NEWER" '/l=C:\e2e\end-at-prompt\log.txt'; then
    expect_eq "WM_QUERYENDSESSION answered" 1 "$(inspector session query | tr -d '\r')"
    inspector session end 0 >/dev/null
    wait_exit 10 || fail "the window did not end"
    expect_eq "exit code" 0x000004C7 "$(exit_code)"
    expect_true "the log says so" grep -q 'the session ends at the prompt: nothing was done' "$RUN_DIR/log.txt"
    expect_eq "device record" "" "$(acpi_events)"
  else
    fail "the window did not appear"
  fi
  end_case
}

# Killed during the write, as a person or a deployment tool might end it, and
# run again at once: the second run touches nothing (its provider may still
# be writing: a device switched off now would cut the write), and says a
# restart comes first. After the restart the update goes on and names the
# interrupted attempt.
case_killed_during_write() {
  begin_case killed_during_write "kill -9 during UpdateFirmware, a run at once: refused, the write not cut; after a restart it goes on"
  configure_provider UpdateLatencyMs=15000
  launch_silent killed "$NEWER" /s '/l=C:\e2e\killed\log.txt'
  local killed_dir=$SILENT_DIR pid
  expect_true "the image was handed over" wait_for_text 'UpdateFirmware: handing the image' "$killed_dir/log.txt" 60
  expect_true "the service began the write" wait_for_text 'WRITE begin bytes=' "$SIM/provider.log" 60
  RUN_WIN='C:\e2e\killed'
  pid=$(product_pid) && kill -9 "$pid"
  wait "$SILENT"
  expect_eq "LastAttemptStatus" 0x10430010 "$(reg_value LastAttemptStatus)"
  expect_eq "LastAttemptImageSha256" "$(sha256sum "$NEWER" | cut -d' ' -f1)" "$(reg_value LastAttemptImageSha256)"
  expect_true "the killed run's log ends with the hand-over" \
    bash -c "tail -n1 '$killed_dir/log.txt' | grep -q 'UpdateFirmware: handing the image'"
  KEEP_RECORDS=1 run_silent after-killed "$NEWER" /s '/l=C:\e2e\after-killed\log.txt'
  expect_eq "the second run's exit code" 0x10430014 "$(exit_code)"
  expect_true "its console says a restart comes first" \
    grep -qF "0x10430014 ERR_RESTART_REQUIRED $(ini_text 409 IDS_RESTART_REQUIRED)" "$RUN_DIR/launcher.out"
  expect_true "it names the interrupted attempt" \
    grep -q 'record: the attempt of 20.*Z was interrupted during the write (image version 0x' "$RUN_DIR/log.txt"
  expect_true "the first write went on to its end" wait_for_text 'WRITE end' "$SIM/provider.log" 30
  expect_eq "writes begun" 1 "$(count_writes)"
  expect_eq "the device record: the killed run's only, no switch off under the write" "OPEN
DEVS 0x00060057 1
CLOSE" "$(acpi_events)"
  cp -f "$killed_dir/log.txt" "$E2E_OUT/killed_during_write-killed-log.txt" 2>/dev/null
  cp -f "$RUN_DIR/log.txt" "$E2E_OUT/killed_during_write-second-log.txt" 2>/dev/null
  # A restart: a new server, as Windows starts anew; what the program noted of
  # the boot is gone with it.
  use_prefix "$WINEPREFIX"
  configure_provider
  KEEP_RECORDS=1 run_silent after-restart "$NEWER" /s '/l=C:\e2e\after-restart\log.txt'
  expect_eq "after the restart: exit code" 0x00000000 "$(exit_code)"
  expect_true "after the restart: the log names the interrupted attempt" \
    grep -q 'record: the attempt of 20.*Z was interrupted during the write' "$RUN_DIR/log.txt"
  expect_eq "after the restart: writes begun" 2 "$(count_writes)"
  expect_eq "after the restart: LastAttemptStatus" 0x0 "$(reg_value LastAttemptStatus)"
  end_case
}

# A session that ends while a slow provider answers the check (300 ms a
# call, some seventeen calls): no further call is made, and the device goes
# off within a second of the end.
case_session_end_during_slow_probe() {
  begin_case session_end_during_slow_probe "the session ends between two calls of a slow check: device off within a second"
  configure_provider LatencyMs=300
  unset INSPECT_PID
  launch_silent slow-probe "$NEWER" /s '/l=C:\e2e\slow-probe\log.txt'
  expect_true "the check began" wait_for_text 'ReadFirmware offset' "$SILENT_DIR/log.txt" 60
  expect_eq "WM_QUERYENDSESSION answered" 1 "$(inspector session query | tr -d '\r')"
  inspector session end 1 >/dev/null 2>&1
  wait "$SILENT"
  RUN_DIR=$SILENT_DIR
  expect_eq "exit code" 0x0000045B "$(exit_code)"
  local s
  s=$(log_seconds "$RUN_DIR/log.txt" 'before any write: nothing will be written' 'device 0x00060057 off')
  figure session_end_to_device_off_s_slow_probe "$s"
  expect_true "the device went off ${s:-?} s after the session's end" awk -v s="${s:-99}" 'BEGIN { exit !(s < 1) }'
  expect_true "no call was made after it" \
    grep -q 'ERROR_SHUTDOWN_IN_PROGRESS; the run is stopping, so the method was not executed' \
    "$RUN_DIR/log.txt"
  expect_eq "UpdateFirmware executions" 0 "$(count_calls UpdateFirmware)"
  expect_device_cycle
  end_case
}

# The stand-in service writes in a process of its own, as on Windows: killed
# mid-call, the run leaves the write going. The device switched off by hand
# (no second run) before it ends bricks the controller: the ACPI stand-in
# records the fault, and the image still arrives.
case_device_off_during_write() {
  begin_case device_off_during_write "kill -9 during the write, then DEVS 0 by hand: the write goes on, the fault is recorded"
  configure_provider UpdateLatencyMs=15000
  launch_silent off-during-write "$NEWER" /s
  # The service records the write's beginning once the ACPI stand-in knows of it.
  wait_for_text 'WRITE begin bytes=' "$SIM/provider.log" 30
  local pid _
  pid=$(product_pid) && kill -9 "$pid"
  wait "$SILENT"
  expect_true "the write had begun before the kill" grep -q 'WRITE begin bytes=' "$SIM/provider.log"
  expect_true "nothing was written yet" test ! -e "$SIM/received.bin"
  wine "$E2E_TOOLS/tbtsim_probe.exe" acpi 0 </dev/null >"$RUN_DIR/probe.out" 2>&1
  for _ in $(seq 1 300); do grep -q 'WRITE end' "$SIM/provider.log" && break; sleep 0.1; done
  expect_true "the write went on to its end" grep -q 'WRITE end bytes=[0-9]* result=0' "$SIM/provider.log"
  expect_true "the image arrived after the kill" cmp -s "$NEWER" "$SIM/received.bin"
  expect_eq "faults recorded" "FAULT DEVS dev=0x00060057 state=0 during a write" "$(acpi_faults)"
  expect_eq "device record" "OPEN
DEVS 0x00060057 1
CLOSE
OPEN
DEVS 0x00060057 0
FAULT DEVS dev=0x00060057 state=0 during a write
CLOSE" "$(acpi_events)"
  end_case
}
