#!/usr/bin/env bash
# Runs bench_compose at both screen classes (scale 0.5 on 1920x1080, 1.0 on
# 2560x1440) under Xvfb, in the window tests' Wine prefix.
#   tools/bench/compose.sh [BUILD_DIR]
# Times native code only: without BUILD_DIR, the i686 build where the kernel
# runs 32-bit programs, otherwise the x86_64 one (its figures are ratios, so
# the builds compare). An i686 build whose code would run emulated is refused.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
if /usr/lib/wine/wine --version >/dev/null 2>&1 && [ -z "${TBT_I386_NS:-}" ]; then native32=1; else native32=0; fi
if [ $# -ge 1 ]; then
  build="$(cd "$1" && pwd)"
elif [ $native32 = 1 ]; then
  build="$root/build/win32"
else
  build="$root/build/win64"
fi
case "$(file -b "$build/bin/bench_compose.exe")" in
  *x86-64*) arch=x86_64; export TBT_WIN_PRESET=win64 ;;  # Wine's 64-bit loader alone: nothing emulated
  *)
    arch=i686
    if [ $native32 = 0 ]; then
      echo "compose.sh: this kernel runs 32-bit code only emulated; time the x86_64 build (build/win64)" >&2
      exit 2
    fi ;;
esac
echo "compose.sh: timing $build/bin/bench_compose.exe ($arch, native)"
export TBT_GUI_PREFIX="${TBT_GUI_PREFIX:-$build/wineprefix-gui}"
for screen in 1920x1080 2560x1440; do
  "$here/../../tests/win/window/gui-run.sh" --screen "$screen" -- "$build/bin/bench_compose.exe"
done
