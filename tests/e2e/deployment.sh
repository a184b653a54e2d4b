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

reg_value() {  # NAME: the value's data as reg prints it, from the 64-bit view
  $WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /v "$1" /reg:64 </dev/null 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

case_record() {
  begin_case record "after /s (log at \\\\?\\C:\\...) and /c the registry holds the last attempt and the last check"
  local view
  for view in 64 32; do $WINE64 reg delete 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /f /reg:$view </dev/null >/dev/null 2>&1; done
  use_run_sim record_update
  configure_provider
  # Its log named with the long-path prefix, taken like the path it spells.
  run_silent record_update "$NEWER" /s '/l=\\?\C:\e2e\record_update\log.txt'
  expect_eq "exit code of /s" 0x00000000 "$(exit_code)"
  expect_true 'the log named \\?\C:\... was kept' grep -q 'result: 0x00000000 STATUS_OK' "$RUN_DIR/log.txt"
  local sha version
  sha=$(sha256sum "$NEWER" | cut -d' ' -f1)
  version=$(tr -d '[:space:]' <"$E2E_SAMPLES/controller.version")
  $WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' </dev/null 2>&1 | tr -d '\r' >"$E2E_OUT/record-after-s.txt"
  expect_eq "LastAttemptStatus" 0x0 "$(reg_value LastAttemptStatus)"
  # A 32-bit program's HKLM\SOFTWARE is redirected to Wow6432Node unless it asks for the 64-bit view.
  expect_true "nothing in the 32-bit view (Wow6432Node)" \
    test -z "$($WINE64 reg query 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /reg:32 </dev/null 2>/dev/null | grep REG_)"
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
  expect_true "the log names the whole image path" log_has "image: $RUN_WIN\\data\\$(basename "$NEWER")" "$text"
  expect_eq "UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  rm -f "$text"
  end_case
}

# --- only the release's image -------------------------------------------------------

# A package made by scripts/package.sh (of the build the suite runs):
# an image planted in data\ during the first wait is refused, nothing falls
# back to another file; its own image is written.
case_release_binding() {
  begin_case release_binding "packaged: a planted image refused with 0x10430011, its own image written"
  local repo pkg product=$E2E_PRODUCT
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  pkg="$E2E_OUT/release_binding-pkg"
  rm -rf "$pkg" && mkdir -p "$pkg/x"
  "$repo/scripts/package.sh" --unsigned --preset "${TBT_WIN_PRESET:-win32}" --out "$pkg" "$NEWER" >"$pkg/package.log" 2>&1 ||
    fail "package.sh failed: $(tail -n2 "$pkg/package.log")"
  unzip -q "$pkg"/TbtFwUpdate-*-unsigned.zip -d "$pkg/x"
  E2E_PRODUCT="$pkg/x"
  $WINE64 reg delete 'HKLM\SOFTWARE\Vorn\TbtFwUpdate' /f </dev/null >/dev/null 2>&1
  use_run_sim release_planted
  configure_provider
  launch_silent release_planted "$NEWER" /s '/l=C:\e2e\release_planted\log.txt'
  sleep 4  # inside the first 10 s wait: the image is chosen after it
  # An image a developer's build would write (same version as the controller).
  cp -f "$E2E_SAMPLES/update-same.bin" "$SILENT_DIR/data/0-planted.bin"
  cp -f "$E2E_SAMPLES/update-same.bin" "$SILENT_DIR/data/$(basename "$NEWER")"  # and in the release's own place
  wait "$SILENT"
  RUN_DIR=$SILENT_DIR
  cp -f "$RUN_DIR/log.txt" "$E2E_OUT/release_planted-log.txt" 2>/dev/null
  expect_eq "exit code" 0x10430011 "$(exit_code)"
  expect_eq "UpdateFirmware executions" 0 "$(count_calls UpdateFirmware)"
  expect_true "the console says so" grep -qF '0x10430011 ERR_IMAGE_NOT_RELEASED This firmware image does not belong to this release.' "$RUN_DIR/launcher.out"
  expect_true "the log says so" grep -qF 'not the one this release was packaged with' "$RUN_DIR/log.txt"
  expect_eq "LastAttemptStatus" 0x10430011 "$(reg_value LastAttemptStatus)"
  use_run_sim release_own
  configure_provider
  run_silent release_own "$NEWER" /s '/l=C:\e2e\release_own\log.txt'
  expect_eq "own image: exit code" 0x00000000 "$(exit_code)"
  expect_eq "own image: UpdateFirmware executions" 1 "$(count_calls UpdateFirmware)"
  expect_true "own image: the log says it is the release's" grep -qF 'the one this release was packaged with' "$RUN_DIR/log.txt"
  E2E_PRODUCT=$product
  end_case
}

# A developer's build says it is unbound; a CR LF argument is shown escaped
# on the console and in the log, with /s and with the window.
case_escaped_lines() {
  begin_case escaped_lines "a CR LF argument escaped on console and log; a developer's build is unbound"
  local forged=$'/x\r\n2026-12-08T00:00:00.000Z [999] result: 0x00000000 STATUS_OK'
  use_run_sim escaped_silent
  configure_provider
  run_silent escaped_silent "$NEWER" /s "$forged"
  cp -f "$RUN_DIR/launcher.out" "$E2E_OUT/escaped_silent-console.txt"
  expect_eq "exit code of /s" 0x00000667 "$(exit_code)"
  expect_true "the console shows it escaped" grep -qF 'argument: /x\r\n2026-12-08T00:00:00.000Z [999]' "$RUN_DIR/launcher.out"
  expect_true "no console line begins with the forged text" bash -c "! tr '\r' '\n' <'$RUN_DIR/launcher.out' | grep -q '^2026-12-08T00:00:00.000Z'"
  use_run_sim escaped_window
  configure_provider
  start_product escaped_window "$NEWER" "$forged" '/l=C:\e2e\escaped_window\log.txt' || fail "no window"
  press 2 || fail "could not press the close cross"
  wait_exit 20 || fail "the program did not end"
  expect_eq "window: exit code (cancelled)" 0x000004C7 "$(exit_code)"
  cp -f "$RUN_DIR/log.txt" "$E2E_OUT/escaped_window-log.txt" 2>/dev/null
  expect_true "the log shows it escaped" grep -qF 'options: /x\r\n2026-12-08T00:00:00.000Z [999] result: 0x00000000 STATUS_OK' "$RUN_DIR/log.txt"
  expect_true "no log line was forged" bash -c "! grep -q '^2026-12-08T00:00:00.000Z \[999\]' '$RUN_DIR/log.txt'"
  use_run_sim unbound
  configure_provider
  run_silent unbound "$NEWER" /s '/l=C:\e2e\unbound\log.txt'
  expect_eq "developer build: exit code" 0x00000000 "$(exit_code)"
  expect_true "developer build: the log says unbound" grep -qF 'image: not bound to a release' "$RUN_DIR/log.txt"
  # A delay-loaded library that cannot be loaded: 126, said, no window.
  use_run_sim dll_missing
  prepare_run dll_missing "$NEWER"
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;bcrypt=d" run_silent_prepared /s '/l=C:\e2e\dll_missing\log.txt'
  expect_eq "bcrypt unloadable: exit code" 0x0000007E "$(exit_code)"
  expect_true "bcrypt unloadable: the console says so" grep -qF 'could not be loaded from the system folder: bcrypt.dll' "$RUN_DIR/launcher.out"
  expect_true "bcrypt unloadable: the log says so" grep -qF 'result: 0x0000007E ERROR_MOD_NOT_FOUND' "$RUN_DIR/log.txt"
  expect_eq "windows shown" 0 "$(grep -c ' window ' "$RUN_DIR/timeline.txt")"
  # A bcrypt.dll in the system folder that loads but lacks every function the
  # program takes from it (the program's first use of them is the image's hash,
  # while the device is on): bound at start, the run ends there with 126,
  # naming library and function, before the device is switched on. Wine's own
  # DLLs that import bcrypt (crypt32, rsaenh) load in the program only once the
  # provider is reached; native-first is set for the program alone.
  lacking_bcrypt_run
  expect_true "bcrypt lacking: the planted copy was the one loaded" test "$LACKING_LOADED" = yes
  expect_eq "bcrypt lacking: exit code" 0x0000007E "$(exit_code)"
  local said fn
  said=$(grep -o 'could not be loaded from the system folder: bcrypt\.dll ([A-Za-z]*)' "$RUN_DIR/launcher.out")
  fn=$(sed -n 's/.*(\(.*\))$/\1/p' <<<"$said")
  expect_true "bcrypt lacking: the console names library and function [$said]" test -n "$fn"
  expect_true "bcrypt lacking: $fn is one the program takes from bcrypt" bash -c \
    "'$PLANT_ARCH-w64-mingw32-nm' '$E2E_PRODUCT/TbtFwUpdate.exe' | grep -qE ' __imp__?${fn:-none}(@[0-9]+)?\$'"
  expect_true "bcrypt lacking: the log names them" grep -qF "$said" "$RUN_DIR/log.txt"
  expect_true "bcrypt lacking: the log's result" grep -qF 'result: 0x0000007E ERROR_MOD_NOT_FOUND' "$RUN_DIR/log.txt"
  expect_eq "bcrypt lacking: device record" "" "$(acpi_events)"
  expect_true "bcrypt lacking: the provider was never called" test ! -s "$SIM/provider.log"
  expect_eq "bcrypt lacking: windows shown" 0 "$(grep -c ' window ' "$RUN_DIR/timeline.txt")"
  end_case
}

# A silent update run with a bcrypt.dll in the prefix's system folder that
# exports none of the functions the program takes from it, native-first for
# the program only; Wine's copy is back afterwards. LACKING_LOADED: whether the
# planted copy was loaded.
lacking_bcrypt_run() {
  plant_toolchain
  local sysdir="$WINEPREFIX/drive_c/windows/syswow64" key='HKCU\Software\Wine\AppDefaults\TbtFwUpdate.exe'
  [ "$PLANT_ARCH" = i686 ] || sysdir="$WINEPREFIX/drive_c/windows/system32"
  # The device's stand-in keeps its record in the prefix's own folder only.
  SIM="$WINEPREFIX/drive_c/tbtsim" SIM_WIN=""
  configure_provider
  prepare_run dll_lacking "$NEWER"
  mkdir -p "$E2E_OUT/planted/bare"
  LACKING_LOADED=no
  PLANT_BARE=1 plant_dlls "$E2E_OUT/planted/bare" bcrypt || { fail "could not build the bare bcrypt.dll"; return; }
  wine reg add "$key\\DllOverrides" /v bcrypt /d native /f </dev/null >/dev/null 2>&1
  # Moved, not overwritten: the prefixes share Wine's files as hard links.
  mv -f "$sysdir/bcrypt.dll" "$sysdir/bcrypt.dll.e2e-wine" && cp -f "$E2E_OUT/planted/bare/bcrypt.dll" "$sysdir/"
  run_silent_prepared /s '/l=C:\e2e\dll_lacking\log.txt'
  mv -f "$sysdir/bcrypt.dll.e2e-wine" "$sysdir/bcrypt.dll"
  wine reg delete "$key" /f </dev/null >/dev/null 2>&1
  [ -f "$sysdir/bcrypt.dll.ran" ] && LACKING_LOADED=yes
  rm -f "$sysdir/bcrypt.dll.ran"
}

# README's Deploying examples ("> TbtFwUpdate.exe ARGS" and the line shown
# under it), run as written.
case_readme_examples() {
  begin_case readme_examples "every command line of README's Deploying section does what README shows"
  local repo args said n=0
  repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  while IFS=$'\t' read -r args said; do
    n=$((n + 1))
    use_run_sim "readme_$n"
    configure_provider
    prepare_run "readme_$n" "$NEWER"
    mkdir -p "$WINEPREFIX/drive_c/logs/a b"
    printf '@echo off\r\ncd /d %s\r\nTbtFwUpdate.exe %s\r\n' "$RUN_WIN" "$args" >"$RUN_DIR/ex.cmd"
    TBTSIM_DIR="$SIM_WIN" timeout 120 wine cmd /c "$RUN_WIN\\ex.cmd" </dev/null >"$RUN_DIR/cmd.out" 2>&1
    expect_true "[$args] shows [$said]" grep -qF -- "$said" "$RUN_DIR/cmd.out"
  done < <(awk '/^## /{ on = ($0 == "## Deploying") } on' "$repo/README.md" |
    awk '/^> TbtFwUpdate.exe /{ a = substr($0, 19); getline; print a "\t" $0 }')
  expect_true "README has examples ($n)" test "$n" -ge 1
  end_case
}
