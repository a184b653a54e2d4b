#!/usr/bin/env bash
# Runs bench_compose at both screen classes (scale 0.5 on 1920x1080, 1.0 on
# 2560x1440) under Xvfb, in the window tests' Wine prefix.
#   tools/bench/compose.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
export TBT_GUI_PREFIX="${TBT_GUI_PREFIX:-$build/wineprefix-gui}"
for screen in 1920x1080 2560x1440; do
  "$here/../../tests/win/window/gui-run.sh" --screen "$screen" -- "$build/bin/bench_compose.exe"
done
