#!/usr/bin/env bash
# Runs a Windows GUI program under Xvfb, in a Wine prefix of the window tests'
# own (TBT_GUI_PREFIX): a wineserver shared with other programs would keep the
# desktop of whatever display started it first, so screen size, work area and
# DPI could not be chosen. One session per prefix at a time (flock).
#
#   gui-run.sh [--screen WxH] [--lang LANG] [--dpi N] [--compositor] [--with CMD] -- program [args...]
#
# --lang sets the system UI language that Wine reports (e.g. ja_JP.UTF-8).
# --compositor starts xcompmgr so per-pixel alpha reaches the screen.
# --with runs a host command in the same X session, a second before the
# program (a backdrop, a screenshot loop); it is stopped with the session.
# The program's exit code is returned.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../../.." && pwd)"
# Where the kernel needs it, the whole session runs in the namespace that runs 32-bit programs.
. "$root/scripts/wine-env.sh"
tbt_enter_i386 "$0" "$@"

screen=1920x1080
lang=en_US.UTF-8
dpi=96
compositor=0
with=""
while [ $# -gt 0 ]; do
  case "$1" in
    --screen) screen="$2"; shift 2 ;;
    --lang) lang="$2"; shift 2 ;;
    --dpi) dpi="$2"; shift 2 ;;
    --compositor) compositor=1; shift ;;
    --with) with="$2"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { echo "usage: $0 [options] -- program [args...]" >&2; exit 2; }

: "${TBT_GUI_PREFIX:?set TBT_GUI_PREFIX to the Wine prefix of the GUI tests}"
export WINEPREFIX="$TBT_GUI_PREFIX"
. "$root/scripts/wine-env.sh"
tbt_prefix_ready || tbt_make_prefix || exit 1

exec 8>"$WINEPREFIX.session.lock"
flock 8
# The set-up below runs outside this session's X server: with the caller's
# display (an outer Xvfb in CI) Wine would make its desktop there, at that
# display's size, and a server still up when the session starts would hand
# the program that desktop and its work area.
unset DISPLAY
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null

# Once per prefix:
# - the display-change tests run in a virtual desktop of their own (only there
#   can a test change the screen size), by program name;
# - there is no window manager, so windows are unmanaged (else every hidden
#   top-level window waits two seconds for a manager that never answers);
# - the faces a Japanese or Traditional Chinese Windows has for our captions
#   are stood in for by WenQuanYi Zen Hei (the one CJK font in the prefix),
#   named as Wine lists it in that language: English under Japanese, Chinese
#   under Chinese. The Segoe faces stay missing, so the fallback to the generic
#   sans-serif family is exercised.
if [ ! -f "$WINEPREFIX/.tbt-gui-v3" ]; then
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v tbtdisplay /d 2560x1440 /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\AppDefaults\window_display_tests.exe\Explorer' /v Desktop /d tbtdisplay /f \
    >/dev/null 2>&1
  reg="$WINEPREFIX/drive_c/tbt-cjk-faces.reg"
  printf '%s\r\n\r\n%s\r\n"MS P Gothic"="WenQuanYi Zen Hei"\r\n"\345\276\256\350\273\237\346\255\243\351\273\221\351\253\224"="\346\226\207\346\263\211\351\251\233\346\255\243\351\273\221"\r\n' \
    'Windows Registry Editor Version 5.00' \
    '[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]' |
    iconv -f UTF-8 -t UTF-16LE | { printf '\377\376'; cat; } >"$reg"
  wine regedit /S 'C:\tbt-cjk-faces.reg' >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.tbt-gui-v3"
fi
if [ "$(cat "$WINEPREFIX/.tbt-dpi" 2>/dev/null || echo 96)" != "$dpi" ]; then
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
  wineserver -w
  echo "$dpi" >"$WINEPREFIX/.tbt-dpi"
fi

# A Korean Windows draws Hangul in the captions through its font links, which
# Wine's GDI+ does not follow: for a Korean run only, the Segoe faces stand
# for the one font of the prefix that has Hangul.
# (Each change waits for the server to end: one left running would keep a
# desktop without this session's display.)
replacements='HKCU\Software\Wine\Fonts\Replacements'
if [ "${lang#ko_}" != "$lang" ]; then
  for face in 'Segoe WP' 'Segoe WP N Semibold'; do
    wine reg add "$replacements" /v "$face" /d 'WenQuanYi Zen Hei' /f >/dev/null 2>&1
  done
  wineserver -w
  touch "$WINEPREFIX/.tbt-hangul-faces"
elif [ -f "$WINEPREFIX/.tbt-hangul-faces" ]; then
  wine reg delete "$replacements" /f >/dev/null 2>&1
  wineserver -w
  rm -f "$WINEPREFIX/.tbt-hangul-faces"
fi

# Whatever the set-up started is gone before the session's display exists.
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
export TBT_GUI_LANG="$lang" TBT_GUI_COMPOSITOR="$compositor" TBT_GUI_WITH="$with"
xvfb-run -a -s "-screen 0 ${screen}x24" bash -c '
  [ "$TBT_GUI_COMPOSITOR" = 1 ] && { xcompmgr >/dev/null 2>&1 & }
  if [ -n "$TBT_GUI_WITH" ]; then
    bash -c "$TBT_GUI_WITH" &
    with_pid=$!
    sleep 1
  fi
  LANG="$TBT_GUI_LANG" LC_ALL="$TBT_GUI_LANG" wine "$@" 2>/dev/null
  rc=$?
  if [ -n "$TBT_GUI_WITH" ]; then
    # The helper ends by itself once it has what it wants; give it a moment.
    for _ in $(seq 50); do kill -0 $with_pid 2>/dev/null || break; sleep 0.1; done
    kill $with_pid 2>/dev/null
    wait $with_pid 2>/dev/null
    with_rc=$?
    [ $rc -eq 0 ] && rc=$with_rc
  fi
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  exit $rc
' gui-run "$@"
