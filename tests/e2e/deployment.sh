# shellcheck shell=bash
# What deployment software meets: refused command lines, the record fleet tools read, a deep install folder.
# Sourced by run_e2e.sh, which holds the shared helpers and the plan.

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
  run_each \
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
  expect_eq "ControllerVersionBeforeAttempt" "$(printf '0x%x' "$version")" "$(reg_value ControllerVersionBeforeAttempt)"
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
