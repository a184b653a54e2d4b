#!/usr/bin/env bash
# Screenshots of the update window under a compositor, over an opaque
# backdrop, at both screen classes and in English, Japanese, Traditional
# Chinese and Korean: the prompt, the caution on battery, the busy animation,
# success, the keyboard's focus ring on Later with the pointer on Shut down,
# and a failure.
#
#   tools/screenshot/shoot.sh BUILD_DIR OUT_DIR [WxH...]
#
# BUILD_DIR is a win32 build with screenshot_driver built. Files are named
# OUT_DIR/<class>-<lang>-<look>.png, class "large" (2560x1440) or "small"
# (1920x1080): large where the full-size window (1,560 x 1,240) fits the
# screen. Prints the files written; fails when a look is missing or a picture
# is not of its class's size (the window plus a 24-pixel margin).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="$(cd "$1" && pwd)"
out="$2"
shift 2
screens=("$@")
[ ${#screens[@]} -gt 0 ] || screens=(1920x1080 2560x1440)
driver="$build/bin/screenshot_driver.exe"
[ -f "$driver" ] || { echo "shoot.sh: build screenshot_driver first ($driver)" >&2; exit 2; }
mkdir -p "$out"
out="$(cd "$out" && pwd)"
export TBT_GUI_PREFIX="${TBT_GUI_PREFIX:-$build/wineprefix-gui}"
looks=(prompt battery busy success keyboard failure)

for screen in "${screens[@]}"; do
  w=${screen%x*}
  h=${screen#*x}
  if [ "$w" -ge 1560 ] && [ "$h" -ge 1240 ]; then
    class=large size=1608x1288
  else
    class=small size=828x668
  fi
  backdrop="$(mktemp --suffix=.png)"
  convert -size "${screen}" pattern:checkerboard -fill '#3a6ea5' -colorize 45 "$backdrop"
  for lang in en_US ja_JP zh_TW ko_KR; do
    sig="$(mktemp -d)"
    winsig="Z:${sig//\//\\}"
    "$root/tests/win/window/gui-run.sh" --screen "$screen" --lang "$lang.UTF-8" --compositor \
      --with "display -geometry +0+0 $backdrop & $here/capture.sh $sig $out/$class-$lang ${looks[*]}" \
      -- "$driver" "$winsig"
    for look in "${looks[@]}"; do
      f="$out/$class-$lang-$look.png"
      [ -f "$f" ] || { echo "shoot.sh: missing $f" >&2; exit 1; }
      got=$(identify -format '%wx%h' "$f")
      [ "$got" = "$size" ] || { echo "shoot.sh: $f is $got, not the $class window's $size" >&2; exit 1; }
      echo "$f"
    done
    rm -rf "$sig"
  done
  rm -f "$backdrop"
done
