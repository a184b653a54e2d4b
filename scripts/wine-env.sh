# Sourced by the scripts that run Windows programs: one Wine prefix inside the
# build tree, created once (under a lock, so parallel tests never race to make it).
TBT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${WINEPREFIX:-$TBT_ROOT/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export WINEARCH=win64

tbt_prefix_ready() { [ -f "$WINEPREFIX/.tbt-ready" ]; }

tbt_make_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if ! tbt_prefix_ready; then
      rm -rf "$WINEPREFIX"
      wineboot -i </dev/null >/dev/null 2>&1
      wineserver -w
      wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f </dev/null >/dev/null 2>&1
      # GDI+ finds only the prefix's fonts: give it a sans-serif family and CJK glyphs.
      fonts="$WINEPREFIX/drive_c/windows/Fonts"
      mkdir -p "$fonts"
      for f in /usr/share/fonts/truetype/liberation/*.ttf /usr/share/fonts/truetype/wqy/*.tt? /usr/share/wine/fonts/tahoma*.ttf; do
        [ -f "$f" ] && cp -f "$f" "$fonts/"
      done
      wineserver -w
      touch "$WINEPREFIX/.tbt-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}

# Starts a persistent server and Wine's own services with their output on
# /dev/null: services started by a test would inherit the test's pipes and
# keep CTest waiting for ever.
tbt_start_wineserver() {
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1
}
