# shellcheck shell=bash
# The crash-point sweep: the real program stopped inside every step where it
# reaches the outside, killed (kill -9) or with its session ended (the query,
# WM_ENDSESSION TRUE, the process killed 5 s later as Windows does), then run
# again in the same boot and once more after a restart. After each stop five
# invariants are checked from the stand-ins' records, the registry and the
# logs. One row per stop, then "N stops, M violations".
# Sourced by run_e2e.sh, which holds the shared helpers, run_each and the plan.
#
# A step is held by the stand-ins (tools/standins/provider/sim_hold.h): the
# K-th request of a kind waits until the sweep releases it, so a stop lands
# inside that step, never after a guessed sleep. The record's writes and the
# log's hand-over line are the program's own; a stop there is made by
# watching the log, whose lines follow each of those writes at once.

SWEEP_ROWS="$E2E_OUT/sweep/rows"

now() { date +%s.%N | cut -c1-14; }

# Kills PID the moment FILE holds TEXT (polled every 0.2 ms) for at most
# SECONDS; 0 when it did. Says "watching" on its output once it polls.
kill_when_logged() {  # PID FILE TEXT SECONDS
  python3 -c '
import os, sys, time
pid, path, text, limit = int(sys.argv[1]), sys.argv[2], sys.argv[3].encode(), float(sys.argv[4])
seen, end = b"", time.monotonic() + limit
with open(path, "rb") as log:
    print("watching", flush=True)
    while time.monotonic() < end:
        chunk = log.read()
        if not chunk:
            time.sleep(0.0002)
            continue
        seen = seen[-len(text):] + chunk
        if text in seen:
            os.kill(pid, 9)
            sys.exit(0)
sys.exit(1)' "$@"
}

# --- the steps --------------------------------------------------------------------

# Steps the stand-ins cannot hold, stopped by watching the log: the step held
# before it, the line logged right after it, and a fence (the next held step)
# so the run never gets past the neighbourhood unstopped.
watch_step() {  # NAME: sets W_PRE, W_TEXT, W_FENCE, W_LABEL (its name in the table)
  case "$1" in
    record-interrupted)
      W_PRE="Put:Buffer 1" W_TEXT="LastAttemptStatus 0x10430010" W_FENCE="UpdateFirmware 1"
      W_LABEL="record: LastAttemptStatus 0x10430010" ;;
    thisboot-1)
      W_PRE="Put:Buffer 1" W_TEXT="UpdateFirmware: handing the image" W_FENCE="UpdateFirmware 1"
      W_LABEL="ThisBoot 1, the hand-over line" ;;
    thisboot-2)
      W_PRE="WRITE 1" W_TEXT="UpdateFirmware: 0x00000000" W_FENCE="DEVS 1"
      W_LABEL="ThisBoot 2" ;;
    record-written)
      W_PRE="WRITE 1" W_TEXT="LastAttemptStatus 0x00000000" W_FENCE="DEVS 1"
      W_LABEL="record: LastAttemptStatus 0" ;;
    *) return 1 ;;
  esac
}

# A step's name in the table.
step_label() {  # STEP [K], or "STEP K"
  if [[ "$1" == watch:* ]] && watch_step "${1#watch:}"; then
    echo "$W_LABEL (watched)"
  else
    echo "$1${2:+ $2}"
  fi
}

# The steps of a silent run with the compatible image, in order, from a run
# of it: "STEP K" for a held one, "watch:NAME" for a watched one.
sweep_steps() {  # REFERENCE_DIR
  local ref=$1 n
  echo "OPEN 1"
  echo "DEVS 1"
  echo "ServiceStart 1"
  echo "ConnectServer 1"
  # Every provider method call, numbered per method, as the run made them.
  sed -n 's/^t=[0-9.]* ExecMethod method=\([A-Za-z]*\) .*/\1/p' "$ref/provider.log" |
    awk '{ n[$1]++
           if ($1 == "UpdateFirmware") { print "Put:Buffer 1"; print "watch:record-interrupted"; print "watch:thisboot-1" }
           print $1, n[$1]
           if ($1 == "UpdateFirmware") { print "WRITE 1"; print "watch:thisboot-2"; print "watch:record-written" } }'
  n=$(grep -c ' seq=[0-9]* DEVS ' "$ref/acpi.log")
  for ((k = 2; k <= n; k++)); do echo "DEVS $k"; done
  echo "CLOSE 1"
}

# Why a step gets no stop of a kind; empty when it gets one.
sweep_skip_reason() {  # RUN STOP STEP
  case "$3" in
    OPEN*) echo "Wine's CreateFileW returns before the driver serves the open: a held open holds the program at its first DEVS only (the DEVS 1 row)" ;;
    CLOSE*) echo "Wine's CloseHandle does not wait for the driver: a held close holds nothing of the program's" ;;
    watch:record-interrupted | watch:thisboot-1 | watch:thisboot-2)
      [ "$2" = session ] &&
        echo "written within a millisecond of the next step: a session end cannot land between them (Put:Buffer and the settle wait end it around them)" ;;
  esac
}

# One line per stop of MODE (full: every step of a silent run killed and
# ended, and of the window run ended; sample: the hand-over neighbourhood and
# one stop per kind of call), tab-separated: ORDER RUN STOP STEP [SKIP REASON].
sweep_plan() {  # MODE REFERENCE_DIR
  local mode=$1 order=0 run stop step
  local sample=" DEVS_1 ServiceStart_1 ConnectServer_1 GetCurrentNvmVersion_1 ReadFirmware_9 Put:Buffer_1"
  sample+=" watch:thisboot-1 UpdateFirmware_1 WRITE_1 watch:record-written "
  local sample_session=" Put:Buffer_1 WRITE_1 "
  for run_stop in "silent kill" "silent session" "window session"; do
    run=${run_stop% *} stop=${run_stop#* }
    while read -r step; do
      order=$((order + 1))
      if [ "$mode" = sample ]; then
        [ "$run" = window ] && continue
        if [ "$stop" = kill ]; then
          [[ "$sample" == *" ${step// /_} "* ]] || continue
        else
          [[ "$sample_session" == *" ${step// /_} "* ]] || continue
        fi
      fi
      printf '%03d\t%s\t%s\t%s\t%s\n' "$order" "$run" "$stop" "$step" "$(sweep_skip_reason "$run" "$stop" "$step")"
    done < <(sweep_steps "$2")
  done
}

# --- one stop -----------------------------------------------------------------------

# A machine as after a restart with nothing on record: no record, no note of
# this boot, the service stopped (its start is the run's), no records.
sweep_fresh_machine() {
  stop_service
  $WINE64 reg delete 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /f /reg:64 </dev/null >/dev/null 2>&1
  rm -f "$SIM/provider.log" "$SIM/received.bin" "$SIM/service.log" "$SIM/acpi.log" "$SIM/hold.txt" "$SIM/hold.log"
  configure_provider
}

# The record as reg prints it, with this boot's note, and when it was read.
sweep_snapshot() {  # FILE
  { echo "at=$(now)"; $WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /s /reg:64 </dev/null 2>/dev/null | tr -d '\r'; } >"$1"
}
snapshot_value() { sed -n "s/^ *$2 *REG_[A-Z_]* *//p" "$1" | head -n1; }  # FILE NAME
snapshot_at() { sed -n 's/^at=//p' "$1"; }

# Waits until the stand-ins have settled after a stop: no hold left (one in
# the provider ends with the program's process), every begun write ended,
# the killed run's handle closed.
sweep_settle() {
  local _
  for _ in $(seq 1 300); do
    [ "$(grep -c ' HELD .* by=\(acpi\|service\)' "$SIM/hold.log" 2>/dev/null)" = \
      "$(grep -c ' RELEASED .* by=\(acpi\|service\)' "$SIM/hold.log" 2>/dev/null)" ] &&
      [ "$(grep -c 'WRITE begin' "$SIM/provider.log" 2>/dev/null)" = "$(grep -c 'WRITE end' "$SIM/provider.log" 2>/dev/null)" ] &&
      [ "$(grep -c ' OPEN$' <(tr -d '\r' <"$SIM/acpi.log" 2>/dev/null))" = "$(grep -c ' CLOSE$' <(tr -d '\r' <"$SIM/acpi.log" 2>/dev/null))" ] &&
      return 0
    sleep 0.1
  done
  return 1
}

# Ends the session of the held run as Windows does: the query, WM_ENDSESSION
# TRUE, and the process killed 5 s after it if it has not ended by then. The
# held step is released once the program has the end (or could not take it
# in 10 s: a thread that answers windows is held), so the program meets the
# end as the step comes back; with THROUGH, only once the program has ended
# (the service's write outlasting the program). Sets S_QUERY (when the query
# went out), S_END (when WM_ENDSESSION did), S_ANSWER and S_ENDED.
sweep_end_session() {  # LAUNCHER_PID [THROUGH]
  local launcher=$1 through=${2:-} ender delivered
  S_QUERY=$(now)
  S_ANSWER=$(inspector session query 2>&1 | tr -d '\r' | head -n1)
  [ -n "$S_ANSWER" ] || S_ANSWER="none in 10 s"
  S_END=$(now)
  inspector session end 1 >/dev/null 2>&1 &
  ender=$!
  wait_for_text 'the session ends' "$STOPPED_DIR/log.txt" 10 || true
  delivered=$SECONDS
  [ -n "$through" ] || hold_release
  while kill -0 "$launcher" 2>/dev/null && [ $((SECONDS - delivered)) -lt 5 ]; do sleep 0.1; done
  S_ENDED=itself
  if kill -0 "$launcher" 2>/dev/null; then
    local pid
    pid=$(RUN_WIN=$STOPPED_WIN product_pid) && kill -9 "$pid"
    S_ENDED="killed 5 s after WM_ENDSESSION"
  fi
  wait "$launcher" 2>/dev/null
  kill "$ender" 2>/dev/null
  wait "$ender" 2>/dev/null
}

# What the registry and the log held when a watched stop landed.
sweep_landing() {
  local s=$1 line="no" reached="no" status attempt
  grep -q "handing the image" "$STOPPED_DIR/log.txt" 2>/dev/null && line=yes
  grep -q 'HELD UpdateFirmware\|ExecMethod method=UpdateFirmware' "$SIM/hold.log" "$SIM/provider.log" 2>/dev/null &&
    reached=yes
  status=$(snapshot_value "$s" LastAttemptStatus)
  attempt=$(snapshot_value "$s" Attempt)
  printf 'landed: record %s, ThisBoot %s, hand-over line %s, UpdateFirmware reached %s' \
    "${status:--}" "${attempt:--}" "$line" "$reached"
}

# One stop, its two follow-up runs and the invariants; writes its row.
sweep_stop() {  # ORDER RUN STOP STEP [K]
  local order=$1 run=$2 stop=$3 step=$4 k=${5:-}
  local id="$order-$run-$stop-${step//:/-}${k:+-$k}" held watched="" what pid
  begin_case "sweep-$id" "$run run, $stop at $step${k:+ $k}; then a run in the same boot, a restart and a run"
  local out="$E2E_OUT/sweep/$id" name="sw$order$stop"
  mkdir -p "$out"
  sweep_fresh_machine
  if [[ "$step" == watch:* ]]; then
    watch_step "${step#watch:}" || { fail "no such step $step"; end_case; return; }
    watched=${step#watch:}
    held=$W_PRE
  else
    held="$step $k"
  fi
  hold_arm "$held"
  unset INSPECT_PID
  if [ "$run" = silent ]; then
    launch_silent "$name" "$SWEEP_IMAGE" /s "/l=C:\\e2e\\$name\\log.txt"
    STOPPED_LAUNCHER=$SILENT
  else
    start_product "$name" "$SWEEP_IMAGE" "/l=C:\\e2e\\$name\\log.txt" || fail "the window did not appear"
    STOPPED_LAUNCHER=$LAUNCHER
    press 1003 || fail "could not press Update"
  fi
  STOPPED_DIR=$RUN_DIR STOPPED_WIN=$RUN_WIN
  LAUNCHER=""  # ended here, never asked to close
  what="$stop"
  if ! hold_wait "${held% *}" 90; then
    fail "the step was never reached: $held"
    hold_release
    wait "$STOPPED_LAUNCHER" 2>/dev/null
    printf '%s\t%s\t%s\t%s\t-\tnot reached\n' "$order" "$run" "$(step_label "$step" "$k")" "$stop" >"$SWEEP_ROWS/$order"
    end_case
    return
  fi
  S_QUERY="" S_END="" S_ENDED=""
  if [ -n "$watched" ] && [ "$stop" = kill ]; then
    pid=$(RUN_WIN=$STOPPED_WIN product_pid)
    kill_when_logged "$pid" "$STOPPED_DIR/log.txt" "$W_TEXT" 30 >"$out/watcher.out" &
    local watcher=$!
    wait_for_text watching "$out/watcher.out" 30
    hold_arm "$W_FENCE"
    if ! wait "$watcher"; then
      # The fence held the run at its next step: stopped there.
      hold_wait "${W_FENCE% *}" 30 && kill -9 "$pid" 2>/dev/null
      what="kill at the fence ${W_FENCE% *}"
    fi
  elif [ -n "$watched" ]; then
    hold_arm "$W_FENCE"
    wait_for_text "$W_TEXT" "$STOPPED_DIR/log.txt" 30 || fail "never logged: $W_TEXT"
    sweep_end_session "$STOPPED_LAUNCHER"
    what="session end (answered $S_ANSWER; ended $S_ENDED)"
  elif [ "$stop" = kill ]; then
    pid=$(RUN_WIN=$STOPPED_WIN product_pid) && kill -9 "$pid"
  else
    # A write in the service's process runs on whatever becomes of the program.
    sweep_end_session "$STOPPED_LAUNCHER" "$([ "${held% *}" = WRITE ] && echo through)"
    what="session end (answered $S_ANSWER; ended $S_ENDED)"
  fi
  [ "$stop" = kill ] && S_ENDED=killed
  local snap1="$out/record-1.txt"
  [ -z "$watched" ] || { sweep_snapshot "$snap1"; what="$what; $(sweep_landing "$snap1")"; }
  hold_release
  wait "$STOPPED_LAUNCHER" 2>/dev/null
  local first_end
  first_end=$(now)
  sweep_settle || fail "the stand-ins did not settle after the stop"
  sweep_snapshot "$snap1"
  local acpi2 acpi3 restart
  acpi2=$(sweep_acpi_lines)
  unset INSPECT_PID
  KEEP_RECORDS=1 run_silent "$name-2" "$SWEEP_IMAGE" /s "/l=C:\\e2e\\$name-2\\log.txt"
  local second_dir=$RUN_DIR second_end
  second_end=$(now)
  sweep_settle || fail "the stand-ins did not settle after the second run"
  sweep_snapshot "$out/record-2.txt"
  restart=$(now)
  use_prefix "$WINEPREFIX"  # a restart: a new server, the note of this boot gone
  acpi3=$(sweep_acpi_lines)
  KEEP_RECORDS=1 run_silent "$name-3" "$SWEEP_IMAGE" /s "/l=C:\\e2e\\$name-3\\log.txt"
  local third_dir=$RUN_DIR
  sweep_settle || fail "the stand-ins did not settle after the third run"
  sweep_snapshot "$out/record-3.txt"

  # The evidence, kept with the stop.
  cp -f "$SIM/provider.log" "$SIM/acpi.log" "$SIM/hold.log" "$SIM/service.log" "$SIM/received.bin" "$out/" 2>/dev/null
  cp -f "$STOPPED_DIR/log.txt" "$out/log-1.txt" 2>/dev/null
  cp -f "$STOPPED_DIR/timeline.txt" "$out/timeline-1.txt" 2>/dev/null
  cp -f "$second_dir/log.txt" "$out/log-2.txt" 2>/dev/null
  cp -f "$third_dir/log.txt" "$out/log-3.txt" 2>/dev/null
  cp -f "$third_dir/timeline.txt" "$out/timeline-3.txt" 2>/dev/null
  cp -f "$second_dir/timeline.txt" "$out/timeline-2.txt" 2>/dev/null
  {
    echo "stop=$stop ended=$S_ENDED query=$S_QUERY session_end=$S_END first_end=$first_end second_end=$second_end restart=$restart"
    echo "acpi_lines_before_run2=$acpi2 acpi_lines_before_run3=$acpi3"
  } >"$out/stop.txt"
  # A silent run stops at the query; a window asks the person first, and so
  # stops once the session ends anyway.
  local session_end=$S_QUERY
  [ "$run" = window ] && session_end=$S_END
  SWEEP_OUT=$out SWEEP_SESSION_END=$session_end SWEEP_FIRST_END=$first_end SWEEP_SECOND_END=$second_end \
    SWEEP_RESTART=$restart \
    SWEEP_ACPI2=$acpi2 SWEEP_ACPI3=$acpi3 SWEEP_FIRST_KILLED=$([ "$S_ENDED" = itself ] && echo 0 || echo 1) \
    sweep_check "$(printf '%s\t%s\t%s\t%s' "$order" "$run" "$(step_label "$step" "$k")" "$what")"
  RUN_DIR=$third_dir
  end_case
}

sweep_acpi_lines() { tr -d '\r' <"$SIM/acpi.log" 2>/dev/null | wc -l; }

# --- the invariants -------------------------------------------------------------------
# Each prints what breaks it (nothing when it holds), from the stop's records:
# SWEEP_OUT (the snapshots, run logs and timelines), the stand-ins' records in
# $SIM, and the stop's moments (SWEEP_SESSION_END, SWEEP_FIRST_END,
# SWEEP_SECOND_END, SWEEP_RESTART).

# Every UpdateFirmware that reached the provider, one line each in time
# order: "START ANSWERED SUCCESS BOOT". Its evidence, whichever came: the
# call's record (written once it returns), its hold, the service's write;
# answered: its answer came back to the program (a ReturnValue, no fault);
# boot 1 before the restart, 2 after. A run's end closes its call.
sweep_calls() {
  {
    awk '/ ExecMethod method=UpdateFirmware / {
           t = substr($1, 3) + 0; el = 0
           if (match($0, /elapsed_ms=[0-9]+/)) el = substr($0, RSTART + 11, RLENGTH - 11) / 1000
           printf "%.3f 1 A\n", t - el
           if ($0 ~ / result=0x00000000/ && $0 ~ / return=[0-9]/ && $0 !~ / fault=/)
             printf "%.3f 4 R %d\n", t, $0 ~ / return=0 /
         }
         / WRITE begin / { printf "%.3f 3 W\n", substr($1, 3) }' "$SIM/provider.log" 2>/dev/null
    awk '/ HELD UpdateFirmware / { printf "%.3f 2 H\n", substr($1, 3) }' "$SIM/hold.log" 2>/dev/null
    echo "$SWEEP_FIRST_END 5 B"
    echo "$SWEEP_SECOND_END 5 B"
    echo "$SWEEP_RESTART 6 Z"
  } | sort -k1,1n -k2,2n | awk '
    function done_call() { if (open) print start, answered, success, boot; open = 0 }
    BEGIN { boot = 1 }
    $3 == "B" { done_call() }
    $3 == "Z" { done_call(); boot = 2 }
    ($3 == "A" || $3 == "H" || $3 == "W") && !open { open = 1; start = $1; answered = 0; success = 0 }
    $3 == "R" && open { answered = 1; success = $4; done_call() }
    END { done_call() }'
}

# The start of the last call before T in the boot before the restart, when
# it never got its answer; empty otherwise.
sweep_unanswered_at() {  # T
  sweep_calls | awk -v at="$1" '$4 == 1 && $1 < at { last = $1; answered = $2 } END { if (last != "" && !answered) print last }'
}

# 1. The device is never switched off while a write runs, nor before the
# written image settled.
sweep_inv1() {
  local faults
  faults=$(acpi_faults | sed ':a;N;$!ba;s/\n/; /g')
  [ -z "$faults" ] || echo "the ACPI stand-in recorded: $faults"
}

# 2. No write begins after the session began to end, and none in the boot of
# an interrupted or unknown one.
sweep_inv2() {
  sweep_calls | awk -v end="${SWEEP_SESSION_END:-0}" -v first="$SWEEP_FIRST_END" '
    $4 != boot { boot = $4; unanswered = "" }
    {
      if (end > 0 && $1 > end && $1 < first)
        printf "UpdateFirmware reached the provider %.3f s after the session began to end; ", $1 - end
      if (unanswered != "")
        printf "UpdateFirmware reached the provider at %s, in the boot of one without an answer (%s); ", $1, unanswered
      if (!$2) unanswered = $1
    }'
}

# 3. The record never claims a success the provider did not give, and says
# interrupted or unknown for every attempt handed over without an answer.
sweep_inv3() {
  local run snap at status
  for run in 1 2; do
    snap="$SWEEP_OUT/record-$run.txt"
    at=$(snapshot_at "$snap")
    status=$(snapshot_value "$snap" LastAttemptStatus)
    if [ "$status" = 0x0 ] && ! sweep_calls | awk -v at="$at" '$1 < at && $3 { found = 1 } END { exit !found }'; then
      echo "after run $run the record says written (0), but the provider answered no success; "
    fi
    if [ -n "$(sweep_unanswered_at "$at")" ] && [ "$status" != 0x10430010 ] && [ "$status" != 0x10430013 ]; then
      echo "after run $run the record says ${status:-nothing} for the image handed over at $(sweep_unanswered_at "$at") without an answer; "
    fi
  done
}

# 4. The device is not left on by a run that ended of itself (a killed one is
# accounted for by the next run's start or the restart).
sweep_inv4() {
  local run from to states exit
  for run in 1 2 3; do
    [ "$run" = 1 ] && [ "$SWEEP_FIRST_KILLED" = 1 ] && continue
    case $run in
      1) from=0 to=$SWEEP_ACPI2 ;;
      2) from=$SWEEP_ACPI2 to=$SWEEP_ACPI3 ;;
      3) from=$SWEEP_ACPI3 to=999999 ;;
    esac
    states=$(tr -d '\r' <"$SIM/acpi.log" | awk -v from="$from" -v to="$to" 'NR > from && NR <= to' |
      sed -n 's/.* DEVS dev=0x00060057 state=\([0-9]*\) .*/\1/p' | tr -d '\n')
    exit=$(sed -n 's/^exit=\(0x[0-9A-F]*\).*/\1/p' "$SWEEP_OUT/timeline-$run.txt" 2>/dev/null)
    if [[ "$states" == *1 ]] && [ "$exit" != 0x10430013 ]; then
      echo "run $run ended of itself with the device switched on (switches: $states); "
    fi
  done
}

# 5. After the restart the update completes, and the log names the
# interrupted attempt.
sweep_inv5() {
  local snap="$SWEEP_OUT/record-3.txt" before="$SWEEP_OUT/record-2.txt" sha exit
  sha=$(sha256sum "$SWEEP_IMAGE" | cut -d' ' -f1)
  exit=$(sed -n 's/^exit=\(0x[0-9A-F]*\).*/\1/p' "$SWEEP_OUT/timeline-3.txt" 2>/dev/null)
  [ "$exit" = 0x00000000 ] || echo "the run after the restart ended with ${exit:-no exit code}; "
  [ "$(snapshot_value "$snap" LastAttemptStatus)" = 0x0 ] && [ "$(snapshot_value "$snap" LastAttemptImageSha256)" = "$sha" ] ||
    echo "after the restart the record says $(snapshot_value "$snap" LastAttemptStatus) $(snapshot_value "$snap" LastAttemptImageSha256); "
  sweep_calls | awk '$4 == 2 && $3 { found = 1 } END { exit !found }' ||
    echo "no write after the restart was answered with success; "
  cmp -s "$SWEEP_IMAGE" "$SIM/received.bin" || echo "the provider's last write is not the image; "
  local status
  status=$(snapshot_value "$before" LastAttemptStatus)
  if [ -n "$(sweep_unanswered_at "$SWEEP_RESTART")" ] || [ "$status" = 0x10430010 ] || [ "$status" = 0x10430013 ]; then
    grep -q 'record: the attempt of .* was interrupted during the write' "$SWEEP_OUT/log-3.txt" 2>/dev/null ||
      echo "the log after the restart does not name the interrupted attempt; "
  fi
}

# Checks the five invariants after a stop and writes its row, tab-separated:
# ORDER RUN STEP STOP INVARIANTS RESULT.
sweep_check() {  # "ORDER<tab>RUN<tab>STEP<tab>STOP"
  local n broken="" evidence
  for n in 1 2 3 4 5; do
    evidence=$("sweep_inv$n" | tr '\n' ' ' | sed 's/; *$//')
    if [ -n "$evidence" ]; then
      fail "invariant $n: $evidence"
      broken+="${broken:+ | }$n: $evidence"
    else
      echo "  ok: invariant $n"
    fi
  done
  printf '%s\t1 2 3 4 5\t%s\n' "$1" "${broken:-pass}" >"$SWEEP_ROWS/${1%%$'\t'*}"
}

# --- the sweep ------------------------------------------------------------------------

# The table: one row per step and kind of stop, then "N stops, M violations".
sweep_table() {  # MODE SECONDS
  local stops violations
  echo
  echo "crash-point sweep ($1, $2 s): run | step | stop | invariants | result"
  cat "$SWEEP_ROWS"/* | sort | awk -F'\t' '{ printf "%s | %s | %s | %s | %s\n", $2, $3, $4, $5, $6 }'
  stops=$(cat "$SWEEP_ROWS"/* | awk -F'\t' '$6 !~ /^skipped/' | wc -l)
  violations=$(cat "$SWEEP_ROWS"/* | awk -F'\t' '$6 !~ /^(pass|skipped)/ { n += split($6, parts, / [|] /) } END { print n + 0 }')
  echo "$stops stops, $violations violations"
}

# The sweep of MODE: a reference run gives the steps, the lanes make every
# stop (each with its two follow-up runs), and the table reports them.
run_crash_sweep() {  # MODE
  local mode=$1 ref="$E2E_OUT/sweep/reference" started=$SECONDS order run stop step reason entries=()
  SWEEP_IMAGE=$NEWER
  rm -rf "$E2E_OUT/sweep"
  mkdir -p "$SWEEP_ROWS" "$ref"
  begin_case "sweep_reference" "a silent run with the compatible image: the steps it takes, as the stand-ins record them"
  sweep_fresh_machine
  run_silent sweep-reference "$SWEEP_IMAGE" /s '/l=C:\e2e\sweep-reference\log.txt'
  expect_eq "exit code" 0x00000000 "$(exit_code)"
  cp -f "$SIM"/*.log "$ref/" 2>/dev/null
  end_case
  while IFS=$'\t' read -r order run stop step reason; do
    # E2E_SWEEP_ONLY (a regular expression over "RUN STOP STEP") picks some stops.
    [[ "$run $stop $step" =~ ${E2E_SWEEP_ONLY:-.} ]] || continue
    if [ -n "$reason" ]; then
      printf '%s\t%s\t%s\t%s\t-\tskipped: %s\n' "$order" "$run" "$(step_label "$step")" "$stop" "$reason" >"$SWEEP_ROWS/$order"
    else
      entries+=("sweep_stop $order $run $stop $step")
    fi
  done < <(sweep_plan "$mode" "$ref")
  # The runs mostly wait (the program's two 10 s waits, three runs a stop).
  E2E_LANES=${E2E_LANES:-6} run_each "${entries[@]}"
  sweep_table "$mode" $((SECONDS - started)) | tee "$E2E_OUT/sweep/table.txt"
}

# CI: the hand-over neighbourhood and one stop per kind of call.
case_crash_sweep_sample() { run_crash_sweep sample; }
# scripts/crash-sweep.sh: every step.
case_crash_sweep_full() { run_crash_sweep full; }
