# Sourced by the scripts that run Windows programs: one Wine prefix inside the
# build tree, created once, and what sets up any prefix of the project's.
TBT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$TBT_ROOT/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

# The program that ships is 32-bit, and so is Wine's first loader. A kernel
# that refuses 32-bit programs (some virtual machines) can still be made to run
# them inside a private user and mount namespace whose own binfmt_misc hands
# i386 programs to a static qemu-i386 (scripts/i386-namespace): tbt_enter_i386
# re-runs the calling script there. Nothing outside the namespace changes.
tbt_i386_runs() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# Whether a namespace for them can be made: qemu-i386 is there, and the
# kernel (6.7 or later) gives each user namespace its own binfmt_misc.
tbt_i386_namespace_works() {
  [ -z "${TBT_I386_NS:-}" ] && [ -x /usr/bin/qemu-i386 ] &&
    unshare -Urm -- "$TBT_ROOT/scripts/i386-namespace" true 2>/dev/null
}

# The script is named by its path as resolved before any cd of the caller's.
tbt_enter_i386() {  # SCRIPT "$@" of the calling script
  [ "$TBT_WIN_PRESET" = win32 ] && ! tbt_i386_runs && tbt_i386_namespace_works || return 0
  local script=$1
  shift
  case $script in /*) ;; *) script=$PWD/$script ;; esac
  if [ ! -f "$script" ]; then
    echo "wine-env: cannot re-run $script inside the namespace: no such file (give the script's own path)" >&2
    exit 1
  fi
  export TBT_I386_NS=1
  exec unshare -Urm -- "$TBT_ROOT/scripts/i386-namespace" "$script" "$@"
}

# Where 32-bit programs cannot be made to run at all, the Windows suites run
# from the x86_64 build of the same sources through Wine's 64-bit loader alone,
# and the shipped program is only built and checked as a file. TBT_WIN_PRESET
# set by the caller is kept.
if [ -z "${TBT_WIN_PRESET:-}" ]; then
  if tbt_i386_runs || tbt_i386_namespace_works || [ ! -x /usr/lib/wine/wine64 ]; then
    TBT_WIN_PRESET=win32
  else
    TBT_WIN_PRESET=win64
    echo "wine-env: this machine cannot run 32-bit programs (no qemu-i386, or no namespace for it):" \
      "the x86_64 build stands in for the shipped i686 program" >&2
  fi
fi
export TBT_WIN_PRESET
if [ "$TBT_WIN_PRESET" = win64 ] && ! tbt_i386_runs; then
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

# A prefix made where 32-bit programs ran has its 32-bit half; one made
# without is rebuilt once they run.
tbt_prefix_kind() { if tbt_i386_runs; then echo wow64; else echo win64-only; fi; }
tbt_prefix_ready() { [ "$(cat "$WINEPREFIX/.tbt-ready" 2>/dev/null)" = "$(tbt_prefix_kind)" ]; }

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
    if tbt_new_prefix; then tbt_prefix_kind >"$WINEPREFIX/.tbt-ready"; else exit 1; fi
  ) 9>"$WINEPREFIX.lock"
}

# Starts a persistent server and Wine's own services with their output on
# /dev/null: services started by a test would inherit the test's pipes and
# keep CTest waiting for ever.
tbt_start_wineserver() {
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
}
