# Sourced by the scripts that run Windows programs: one Wine prefix inside the
# build tree, created once, and what sets up any prefix of the project's.
TBT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$TBT_ROOT/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

# Wine starts every program through its 32-bit loader first. A kernel that
# cannot run 32-bit processes (some virtual machines) refuses that loader, and
# then nothing runs: there, Wine is reached through its 64-bit loader alone and
# the Windows suites run from the x86_64 build of the same sources
# (TBT_WIN_PRESET); the shipped i686 program is still built and checked as a
# file. TBT_WIN_PRESET=win32 or win64 set by the caller is kept.
if [ -z "${TBT_WIN_PRESET:-}" ]; then
  if /usr/lib/wine/wine --version >/dev/null 2>&1 || [ ! -x /usr/lib/wine/wine64 ]; then
    TBT_WIN_PRESET=win32
  else
    TBT_WIN_PRESET=win64
  fi
fi
export TBT_WIN_PRESET
if [ "$TBT_WIN_PRESET" = win64 ]; then
  tbt_shim="$TBT_ROOT/build/wine64-loader"
  # "wine" and what Wine's own launchers (wineboot, …) call.
  for tbt_name in wine wine-stable; do
    [ -x "$tbt_shim/$tbt_name" ] && continue
    mkdir -p "$tbt_shim"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$tbt_shim/$tbt_name.$$"
    chmod +x "$tbt_shim/$tbt_name.$$"
    mv -f "$tbt_shim/$tbt_name.$$" "$tbt_shim/$tbt_name"
  done
  case ":$PATH:" in *":$tbt_shim:"*) ;; *) export PATH="$tbt_shim:$PATH" ;; esac
  export WINELOADER=/usr/lib/wine/wine64
fi

tbt_prefix_ready() { [ -f "$WINEPREFIX/.tbt-ready" ]; }

# One step of setting up a prefix, its output kept in $WINEPREFIX.log. A
# failure names the step, shows what it printed and how much room the disk has
# left: the steps print nothing on the console, so a bare exit code says nothing.
tbt_step() {
  echo "+ $*" >>"$WINEPREFIX.log"
  "$@" </dev/null >>"$WINEPREFIX.log" 2>&1 && return 0
  local rc=$?
  echo "wine-env: step failed (exit $rc) in $WINEPREFIX: $*" >&2
  tail -n 15 "$WINEPREFIX.log" | sed 's/^/wine-env: | /' >&2
  df -h "$(dirname "$WINEPREFIX")" | sed 's/^/wine-env: | /' >&2
  return $rc
}

# A new prefix in $WINEPREFIX: Wine's own set-up, no crash dialog (a crash under
# a display would hang), the fonts GDI+ needs (it finds only the prefix's: a
# sans-serif family and CJK glyphs), then the caller's EXTRA steps, if any.
# Tried once more on a failure: a fresh prefix has failed to set up once in CI,
# for no reason that showed again. Every step is checked here, as errexit is off
# wherever a caller tests the result.
tbt_new_prefix() {
  local extra="${1:-}" attempt f fonts="$WINEPREFIX/drive_c/windows/Fonts"
  : >"$WINEPREFIX.log"
  for attempt in 1 2; do
    [ $attempt = 1 ] || echo "wine-env: setting up $WINEPREFIX once more" >&2
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX" || return
    tbt_step wineboot -i && tbt_step wineserver -w &&
      tbt_step wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f || continue
    mkdir -p "$fonts" || return
    for f in /usr/share/fonts/truetype/liberation/*.ttf /usr/share/fonts/truetype/wqy/*.tt? /usr/share/wine/fonts/tahoma*.ttf; do
      if [ -f "$f" ]; then cp -f "$f" "$fonts/" || return; fi
    done
    if { [ -z "$extra" ] || $extra; } && tbt_step wineserver -w; then return 0; fi
  done
  return 1
}

# The project's prefix, made once under a lock so parallel tests never race to
# make it.
tbt_make_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    tbt_prefix_ready && exit 0
    if tbt_new_prefix; then touch "$WINEPREFIX/.tbt-ready"; else exit 1; fi
  ) 9>"$WINEPREFIX.lock"
}

# Starts a persistent server and Wine's own services with their output on
# /dev/null: services started by a test would inherit the test's pipes and
# keep CTest waiting for ever.
tbt_start_wineserver() {
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
}
