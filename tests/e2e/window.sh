# shellcheck shell=bash
# Runs with the window, pressed as a person would: the stand-ins, no device, no provider, the outcomes of an update, commands and keys that reach the window during a run.
# Sourced by run_e2e.sh, which holds the shared helpers and the plan.

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
  # The service writes: ended mid-write, it leaves the write abandoned (a
  # fault) and the waiting call answered 1062.
  configure_provider UpdateLatencyMs=5000
  cp -f "$NEWER" "$SIM/probe-image.bin"
  wine "$E2E_TOOLS/tbtsim_probe.exe" wmi 'ROOT\Intel\Thunderbolt' 'C:\tbtsim\probe-image.bin' </dev/null \
    >"$E2E_OUT/standins-write.txt" 2>&1 &
  local probe=$! _
  for _ in $(seq 1 100); do grep -q 'WRITE begin' "$SIM/provider.log" 2>/dev/null && break; sleep 0.1; done
  # The 64-bit taskkill: the 32-bit one does not see 64-bit processes.
  $WINE64 taskkill /F /IM tbtsim_service.exe </dev/null >/dev/null 2>&1
  wait "$probe"
  expect_true "the call is answered 1062" grep -q '^update.return=1062 ' "$E2E_OUT/standins-write.txt"
  expect_true "nothing was written" test ! -e "$SIM/received.bin"
  expect_eq "faults recorded" "FAULT WRITE abandoned: the writer went away before its write ended" "$(acpi_faults)"
  rm -f "$SIM/probe-image.bin"
  expect_true "the service starts again" bash -c \
    "wine '$E2E_TOOLS/tbtsim_probe.exe' service </dev/null 2>&1 | grep -q '^state=4'"
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


# --- the keyboard during the write ---------------------------------------------------

# One pixel of the screen as RRGGBB.
screen_pixel() { import -window root -crop "1x1+$1+$2" +repage -depth 8 txt:- 2>/dev/null | sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | head -n1; }

case_keys_held_during_write() {
  begin_case keys_held_during_write "Esc held during the write, then nothing: a line says why, the success page stays; Tab moves the focus ring to Later, Enter presses it"
  configure_provider
  if ! start_product keys-held "$NEWER"; then
    fail "the window did not appear"
    end_case
    return
  fi
  press 1003 || fail "could not press Update"
  inspector wait --timeout 20000 1006:visible || fail "no busy state"
  read_state
  expect_control 1004 1 - "$(ini_text 409 IDS_UPDATING)"
  expect_control 2 1 0 "$(ini_text 409 IDS_CLOSE)"
  expect_control 1005 0 -
  local win
  win=$(xdotool search --onlyvisible --classname TbtFwUpdate.exe | head -n1)
  [ -n "$win" ] && xdotool windowfocus --sync "$win" || fail "the window cannot take the keyboard"
  # Held through the first half of the write (its first 10 s wait, until the
  # image is handed over), the X server repeating it: far more keys than one
  # a tick.
  xdotool keydown Escape
  wait_for_text 'method=UpdateFirmware' "$SIM/provider.log" 60 || fail "the image was not handed over"
  xdotool keyup Escape
  read_state
  expect_true "the window stays through the held key" grep -q '^window vis=1' "$RUN_DIR/state.txt"
  expect_control 1005 1 - "$(ini_text 409 IDS_SHUTDOWN_BLOCKED)"  # the line that says why
  expect_control 1004 1 - "$(ini_text 409 IDS_UPDATING)"
  if ! inspector wait --timeout $RESULT_TIMEOUT_MS 1007:visible; then
    fail "no result within $((RESULT_TIMEOUT_MS / 1000)) s"
    end_case
    return
  fi
  sleep 5
  if ! kill -0 "$LAUNCHER" 2>/dev/null; then
    fail "the program ended on its own after the success page ($(exit_code))"
    end_case
    return
  fi
  echo "  ok: the success page is still up 5 s later"
  read_state
  expect_control 1004 1 - "$(ini_text 409 IDS_SUCCESS)"
  expect_control 1007 1 1
  expect_control 1008 1 1
  expect_control 1005 0 -
  # The pointer on Shut down, Tab: the ring (two pixels, six in from the
  # edge of the large window's 76-pixel buttons) is on Later, in its caption's
  # grey, and not on Shut down, whose ring would be white.
  local shut later sx sy lx ly
  shut=$(inspector point 1007) && later=$(inspector point 1008) || fail "no buttons"
  read -r sx sy <<<"$shut"
  read -r lx ly <<<"$later"
  xdotool mousemove 0 0 mousemove --sync "${sx:-0}" "${sy:-0}"
  xdotool key Tab
  sleep 1
  import -window root "$E2E_OUT/keys_held_during_write-focus.png" 2>/dev/null
  expect_eq "Later's ring" 464646 "$(screen_pixel "${lx:-0}" $((${ly:-0} - 32)))"
  expect_true "no ring on Shut down under the pointer" test "$(screen_pixel "${sx:-0}" $((${sy:-0} - 32)))" != FFFFFF
  xdotool key Return
  wait_exit 20 || fail "the program did not end after Enter on Later"
  expect_eq "exit code" 0x00000000 "$(exit_code)"
  expect_device_cycle
  end_case
}
