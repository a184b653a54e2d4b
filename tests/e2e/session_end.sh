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

