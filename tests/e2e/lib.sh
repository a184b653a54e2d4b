# shellcheck shell=bash
# Helpers for end-to-end runs of the real program inside a prefix with the
# simulated hardware (sourced by run_e2e.sh and scripts/demo.sh).
#
# Needs: E2E_PRODUCT (folder with TbtFwUpdate.exe and data/Update.ini),
# E2E_TOOLS (folder with inspector.exe and tbtsim_probe.exe), E2E_OUT (where
# records of every run are kept), DISPLAY (an X server with a compositor).

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
# The program's texts follow the user's UI language: English (the "C" locale)
# unless a run says /LID.
export LC_ALL=C.UTF-8
unset LANGUAGE
WINE64=/usr/lib/wine/wine64

# --- prefix --------------------------------------------------------------------

# Makes $1 the current prefix and starts its server and Wine's services with
# their output on /dev/null (a service must never inherit a caller's pipe).
# Drivers installed in the prefix start with them.
use_prefix() {
  export WINEPREFIX="$1"
  SIM="$WINEPREFIX/drive_c/tbtsim"
  wineserver -k 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
  if [ -f "$SIM/bin/x64/qmxacpi.sys" ]; then
    local _
    for _ in $(seq 1 50); do
      $WINE64 sc query QMXACPI </dev/null 2>/dev/null | grep -q RUNNING && return 0
      sleep 0.2
    done
    echo "e2e: the QMXACPI stand-in did not start in $WINEPREFIX" >&2
  fi
}

stop_prefix() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
}

# The stand-in service keeps running between runs of one session: stop it so
# that the next run's start request is the one recorded.
stop_service() {
  [ -f "$SIM/bin/x64/tbtsim_service.exe" ] || return 0
  $WINE64 sc stop ThunderboltService </dev/null >/dev/null 2>&1 || true
  local _
  for _ in $(seq 1 50); do
    $WINE64 sc query ThunderboltService </dev/null 2>/dev/null | grep -q STOPPED && return 0
    sleep 0.1
  done
}

# Gives the next run a provider folder of its own (settings and records), so
# that runs in one prefix keep their records apart. Without it the
# provider uses C:\tbtsim.
use_run_sim() {
  SIM="$WINEPREFIX/drive_c/tbtsim-runs/$1"
  SIM_WIN="C:\\tbtsim-runs\\$1"
  rm -rf "$SIM"
  mkdir -p "$SIM"
}

# Writes the simulated provider's settings: the sample controller plus "Key=Value" extras.
configure_provider() {
  mkdir -p "$SIM"
  cp -f "$E2E_SAMPLES/controller.nvm" "$SIM/controller.nvm"
  {
    printf '[Provider]\r\nNvmFile=controller.nvm\r\nNvmVersion=%s\r\n' "$(tr -d '[:space:]' <"$E2E_SAMPLES/controller.version")"
    local extra
    for extra in "$@"; do printf '%s\r\n' "$extra"; done
  } >"$SIM/provider.ini"
}

reset_records() {
  # The service is shared by every run of the prefix; a run with a folder of
  # its own leaves it alone.
  [ -n "${SIM_WIN:-}" ] || stop_service
  rm -f "$SIM/provider.log" "$SIM/received.bin" "$SIM/service.log" "$SIM/acpi.log"
  forget_this_boot
}

# What the program noted of this boot (a volatile key, which a restart of the
# machine would clear): each case starts as if the machine had restarted.
forget_this_boot() {
  $WINE64 reg delete 'HKLM\SOFTWARE\Vorn\TbtFwUpdate\ThisBoot' /f /reg:64 </dev/null >/dev/null 2>&1 || true
}

# Whether a log holds TEXT as it was logged: the log writes a backslash as two.
log_has() {  # TEXT LOG
  sed 's/\\\\/\\/g' "$2" 2>/dev/null | grep -qF -- "$1"
}

# Waits until a log (or any record) holds TEXT; 0 when it did in time. A
# moment is found by what marks it, never by a guessed sleep.
wait_for_text() {  # TEXT FILE [SECONDS]
  local _
  for _ in $(seq 1 $((${3:-60} * 10))); do
    log_has "$1" "$2" && return 0
    sleep 0.1
  done
  return 1
}

# --- the program ---------------------------------------------------------------

inspector() { wine "$E2E_TOOLS/inspector.exe" "$@" </dev/null; }

# start_product CASE IMAGE|- [ARGS...]: prepares the run (prepare_run) and
# starts the program through the inspector, which records the window's
# changes, peak memory and exit code in RUN_DIR/timeline.txt.
start_product() {
  prepare_run "$1" "$2"
  shift 2
  start_prepared_product "$@"
}

# start_prepared_product [ARGS...]: starts the run prepare_run made ready.
start_prepared_product() {
  unset INSPECT_PID
  TBTSIM_DIR="${SIM_WIN:-}" wine "$E2E_TOOLS/inspector.exe" launch "$RUN_WIN\\timeline.txt" \
    "$RUN_WIN\\TbtFwUpdate.exe" "$@" </dev/null >"$RUN_DIR/launcher.out" 2>&1 &
  LAUNCHER=$!
  # From here on the inspector looks at this run's window only.
  local _ pid=""
  for _ in $(seq 1 100); do
    pid=$(sed -n 's/^launched pid=\([0-9]*\) .*/\1/p' "$RUN_DIR/timeline.txt" 2>/dev/null)
    [ -n "$pid" ] && break
    sleep 0.1
  done
  [ -n "$pid" ] && export INSPECT_PID="$pid"
  inspector wait-window 30000
}

# run_silent CASE IMAGE|- [ARGS...]: as start_product, but waits for the
# program to end (a silent run shows no window). The timeline records any
# window that appears anyway, and the exit code; what the program writes to
# the console it was started from is in RUN_DIR/launcher.out.
run_silent() {
  prepare_run "$1" "$2"
  shift 2
  run_silent_prepared "$@"
}

# run_silent_prepared [ARGS...]: runs what prepare_run made ready, to its end.
run_silent_prepared() {
  TBTSIM_DIR="${SIM_WIN:-}" timeout 120 wine "$E2E_TOOLS/inspector.exe" launch "$RUN_WIN\\timeline.txt" \
    "$RUN_WIN\\TbtFwUpdate.exe" "$@" </dev/null >"$RUN_DIR/launcher.out" 2>&1
}

# Copies the program with its data folder (and the image, unless "-") to
# C:\e2e\CASE (CASE may hold "/" for deeper folders) and clears the stand-ins'
# records, unless KEEP_RECORDS is set (a run started beside another one that is
# still recording).
prepare_run() {
  local name="$1" image="$2"
  RUN_DIR="$WINEPREFIX/drive_c/e2e/$name"
  RUN_WIN="C:\\e2e\\${name//\//\\}"  # CASE may name a folder deeper down: a/b
  rm -rf "$RUN_DIR"
  mkdir -p "$RUN_DIR/data"
  cp -f "$E2E_PRODUCT/TbtFwUpdate.exe" "$RUN_DIR/"
  cp -f "$E2E_PRODUCT/data/Update.ini" "$RUN_DIR/data/"
  [ "$image" = - ] || cp -f "$image" "$RUN_DIR/data/"
  [ -n "${KEEP_RECORDS:-}" ] || reset_records
}

# launch_silent CASE IMAGE [ARGS...]: as run_silent, but in the background
# (SILENT: the launcher's pid, SILENT_DIR: the run's folder); keeps the
# records when KEEP_RECORDS is set.
launch_silent() {
  prepare_run "$1" "$2"
  shift 2
  SILENT_DIR=$RUN_DIR
  TBTSIM_DIR="${SIM_WIN:-}" timeout 120 wine "$E2E_TOOLS/inspector.exe" launch "$RUN_WIN\\timeline.txt" \
    "$RUN_WIN\\TbtFwUpdate.exe" "$@" </dev/null >"$RUN_DIR/launcher.out" 2>&1 &
  SILENT=$!
}

# Presses a control as a person would: moves the X pointer onto it and clicks.
# E2E_CLICK=message posts BM_CLICK instead.
press() {
  if [ "${E2E_CLICK:-x}" = message ]; then
    inspector click "$1"
    return
  fi
  local point
  point=$(inspector point "$1") || return 1
  # Come from elsewhere, so the button sees the pointer arrive (and --sync
  # never waits for a move that does not happen).
  # shellcheck disable=SC2086
  xdotool mousemove 0 0 mousemove --sync $point sleep 0.1 click 1
}

# Waits until the launcher (and so the program) has ended; 0 when it did in time.
wait_exit() {
  local timeout="${1:-30}" _
  for _ in $(seq 1 $((timeout * 10))); do
    kill -0 "$LAUNCHER" 2>/dev/null || { wait "$LAUNCHER" 2>/dev/null; return 0; }
    sleep 0.1
  done
  return 1
}

# Ends a program that a failed case left open: ask it to close, then end the launcher we started.
end_product() {
  if [ -n "$LAUNCHER" ] && kill -0 "$LAUNCHER" 2>/dev/null; then
    inspector close >/dev/null 2>&1
    wait_exit 5 || { kill "$LAUNCHER" 2>/dev/null; wait "$LAUNCHER" 2>/dev/null; }
  fi
}

exit_code() { sed -n 's/^exit=\(0x[0-9A-F]*\).*/\1/p' "${1:-$RUN_DIR}/timeline.txt" 2>/dev/null; }

# The window's controls now: "ID vis=V en=E text=T" per line.
read_state() { inspector state >"$RUN_DIR/state.txt" 2>&1; }
field() {  # field ID vis|en|text  (from the last read_state)
  local line
  line=$(grep -m1 "^$1 " "$RUN_DIR/state.txt")
  case "$2" in
    vis) sed -n 's/^[0-9]* vis=\([01]\).*/\1/p' <<<"$line" ;;
    en) sed -n 's/^[0-9]* vis=[01] en=\([01]\).*/\1/p' <<<"$line" ;;
    text) sed -n 's/^[0-9]* vis=[01] en=[01] text=//p' <<<"$line" ;;
  esac
}

# A text of the shipped Update.ini for a language (hex id).
ini_text() { inspector ini "$RUN_WIN\\data\\Update.ini" "$1" "$2" | tr -d '\r'; }

# Milliseconds from the press of Update (the button disabled, its first
# reaction) to the result, from the timeline: the message's next change, but
# for the one to the text it shows while the update runs (IDS_UPDATING in the
# language LANG_ID, 409 unless the case sets another).
update_ms() {
  BUSY="1004 vis=1 en=1 text=$(ini_text "${LANG_ID:-409}" IDS_UPDATING)" awk '
    /^\+[0-9]+ 1003 vis=[01] en=0/ && !start { start = substr($1, 2) + 0; next }
    start && /^\+[0-9]+ 1004 / {
      line = $0
      sub(/^\+[0-9]+ /, "", line)
      sub(/\r$/, "", line)
      if (line == ENVIRON["BUSY"]) next
      print substr($1, 2) - start
      exit
    }
  ' "$RUN_DIR/timeline.txt"
}

# Linux process id of the running program (argument 0 is its Windows path).
product_pid() {
  local f
  for f in /proc/[0-9]*/cmdline; do
    # Wine shows the program's own path first; under qemu-i386 the emulator
    # and Wine's loader come before it.
    if tr '\0' '\n' <"$f" 2>/dev/null | head -n3 | grep -qxF "$RUN_WIN\TbtFwUpdate.exe"; then
      f=${f#/proc/}
      echo "${f%/cmdline}"
      return 0
    fi
  done
  return 1
}

count_calls() { grep -c "ExecMethod method=$1 " "$SIM/provider.log" 2>/dev/null || true; }
# Writes the stand-in service began: a call whose caller was killed records no
# ExecMethod line, but its write goes on.
count_writes() { grep -c ' WRITE begin ' "$SIM/provider.log" 2>/dev/null || true; }

# The driver's record without its load line and the writes it was told of:
# OPEN, DEVS ..., CLOSE in order. FAULT lines (a device switched off during a
# write) stay, so no expected device cycle matches a run that bricked one.
acpi_events() {
  [ -f "$SIM/acpi.log" ] || return 0
  tr -d '\r' <"$SIM/acpi.log" | sed -n 's/^t=[0-9.]* seq=[0-9]* //p' | grep -v -e '^LOADED' -e '^WRITE ' |
    sed -e 's/^DEVS dev=\(0x[0-9A-F]*\) state=\([0-9]*\).*/DEVS \1 \2/'
}

# The driver's FAULT lines only, without their stamps.
acpi_faults() {
  [ -f "$SIM/acpi.log" ] || return 0
  tr -d '\r' <"$SIM/acpi.log" | sed -n 's/^t=[0-9.]* seq=[0-9]* \(FAULT .*\)/\1/p'
}

# --- checks --------------------------------------------------------------------

CASES_PASSED=0
CASES_FAILED=0
CASE_FAILS=0
LAUNCHER=""
RUN_DIR=""

begin_case() {  # begin_case ID DESCRIPTION
  CASE="$1"
  CASE_STARTED=$SECONDS
  # The prefix's own provider folder unless the case takes one of its own.
  SIM_WIN=""
  [ -z "${WINEPREFIX:-}" ] || SIM="$WINEPREFIX/drive_c/tbtsim"
  CASE_FAILS=0
  LAUNCHER=""
  RUN_DIR=""
  echo "--- $1: $2"
}

fail() {
  echo "  FAIL: $*"
  if [ $CASE_FAILS -eq 0 ] && [ -n "${DISPLAY:-}" ]; then
    import -window root "$E2E_OUT/$CASE.png" 2>/dev/null && echo "  (screen saved as $E2E_OUT/$CASE.png)"
  fi
  CASE_FAILS=$((CASE_FAILS + 1))
}

# The stand-ins hold the K-th request of a step once hold.txt in their folder
# arms "STEP K"; a step held now is released by the same change. The file is
# replaced whole, so no stand-in ever reads it half written.
hold_arm() {  # "STEP K"
  printf '%s' "$1" >"$SIM/hold.txt.new" && mv -f "$SIM/hold.txt.new" "$SIM/hold.txt"
}
hold_release() { rm -f "$SIM/hold.txt"; }
hold_wait() { wait_for_text "HELD $1 " "$SIM/hold.log" "${2:-90}"; }  # STEP [SECONDS]

expect_eq() {  # expect_eq WHAT EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then
    echo "  ok: $1"
  else
    fail "$1: expected [$2], got [$3]"
  fi
}

expect_true() {  # expect_true WHAT COMMAND...
  local what="$1"
  shift
  if "$@"; then echo "  ok: $what"; else fail "$what"; fi
}

expect_control() {  # expect_control ID VIS|- EN|- [TEXT]   ("-": not checked)
  [ "$2" = - ] || expect_eq "control $1 shown" "$2" "$(field "$1" vis)"
  [ "$3" = - ] || expect_eq "control $1 enabled" "$3" "$(field "$1" en)"
  [ $# -lt 4 ] || expect_eq "control $1 text" "$4" "$(field "$1" text)"
}

end_case() {
  end_product
  # Which program ran, as its own log says: the shipped one is 32-bit under WoW64.
  local kind
  kind=$(grep -h -o 'process: .*' "${RUN_DIR:-/nonexistent}"/*.txt 2>/dev/null | head -n1 | tr -d '\r')
  if [ -n "$kind" ]; then
    echo "  $kind"
    [ -z "${E2E_PROCESS_KIND:-}" ] || expect_eq "the program ran as" "process: $E2E_PROCESS_KIND" "$kind"
  fi
  if [ -n "${RUN_DIR:-}" ] && [ -d "$RUN_DIR" ]; then
    mkdir -p "$E2E_OUT/$CASE"
    cp -f "$RUN_DIR"/*.txt "$E2E_OUT/$CASE/" 2>/dev/null
    cp -f "$SIM"/*.log "$E2E_OUT/$CASE/" 2>/dev/null
  fi
  if [ $CASE_FAILS -eq 0 ]; then
    CASES_PASSED=$((CASES_PASSED + 1))
    echo "PASS $CASE ($((SECONDS - CASE_STARTED)) s)"
  else
    CASES_FAILED=$((CASES_FAILED + 1))
    echo "FAIL $CASE ($CASE_FAILS checks failed in $((SECONDS - CASE_STARTED)) s; records in $E2E_OUT/$CASE)"
  fi
  RUN_DIR=""
}
