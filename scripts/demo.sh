#!/usr/bin/env bash
# The tool doing its job on a simulated notebook. Installs what is missing,
# builds (host tools, the Windows program, the simulated hardware), prepares a
# Wine prefix holding a sample controller, then runs the real TbtFwUpdate.exe
# twice and presses its buttons the way a person would:
#   1. with a compatible, newer image: prompt, busy animation, success;
#   2. with an image for another board: refused with its status code.
# Screenshots, the window's recorded states and the simulated hardware's
# records are saved under build/demo/, whose path is printed at the end.
#
#   scripts/demo.sh                 everything on a virtual screen (Xvfb)
#   scripts/demo.sh --interactive   on your own $DISPLAY: the window stays
#                                   open for you to press Update yourself
set -euo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")  # re-run inside the namespace from the top folder
cd "$(dirname "$self")/.."
root=$PWD
interactive=0
[ "${1:-}" = --interactive ] && interactive=1
if [ $interactive = 1 ] && [ -z "${DISPLAY:-}" ]; then
  echo "demo: --interactive needs a display (\$DISPLAY is not set)" >&2
  exit 2
fi

# The preset folders unless told otherwise (engineers keep their own builds).
[ -n "${TBT_I386_NS:-}" ] || bash scripts/install-deps.sh --demo  # not again once inside the namespace
. scripts/wine-env.sh  # TBT_WIN_PRESET: win32, or win64 where 32-bit programs cannot be run at all
tbt_enter_i386 "$self" "$@"
host_build=${DEMO_HOST_BUILD:-build/host}
product_build=${DEMO_PRODUCT_BUILD:-build/$TBT_WIN_PRESET}

echo "demo: building (first run: a few minutes)"
# Wine's set-up of the prefix needs none of the binaries: it runs meanwhile.
tools/standins/make-prefix.sh build/demo-prefix --base-only &
prefix_base=$!
trap 'kill $prefix_base 2>/dev/null || true' EXIT
cmake --preset host -B "$host_build" >/dev/null
cmake --build "$host_build" -j2 --target nvmcheck
cmake --preset "$TBT_WIN_PRESET" -B "$product_build" >/dev/null
cmake --build "$product_build" -j2 --target TbtFwUpdate tbtsim_provider tbtsim_probe inspector
if [ ! -f build/e2e-win64/build.ninja ]; then
  cmake -G Ninja -B build/e2e-win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    tools/standins >/dev/null
fi
cmake --build build/e2e-win64 -j2 --target tbtsim_provider tbtsim_service qmxacpi
wait $prefix_base || true  # a failed set-up is done again, and shown, just below
tools/standins/make-prefix.sh build/demo-prefix --bin32 "$product_build/bin" --bin64 build/e2e-win64/bin

export E2E_PRODUCT="$root/$product_build/bin"
export E2E_TOOLS="$root/$product_build/bin"
export E2E_SAMPLES="$root/samples"
export E2E_OUT="$root/build/demo"
export DEMO_INTERACTIVE=$interactive
rm -rf "$E2E_OUT"
mkdir -p "$E2E_OUT"

# Why the second image is refused, as the offline checker explains it.
"$host_build/bin/nvmcheck" samples/update-other-board.bin --nvm samples/controller.nvm \
  --nvm-version "$(cat samples/controller.version)" >"$E2E_OUT/refused-image-nvmcheck.txt" || true

if [ $interactive = 1 ]; then
  bash tests/e2e/demo_run.sh
else
  # Full-size art on a large virtual screen; the compositor gives the window its alpha.
  xvfb-run -a -s '-screen 0 2560x1440x24' bash -c '
    # A desktop colour behind the window, taken up by the compositor.
    display -window root -size 8x8 "xc:#2f5f8f" 2>/dev/null
    xcompmgr >/dev/null 2>&1 &
    compositor=$!
    bash tests/e2e/demo_run.sh
    rc=$?
    kill $compositor 2>/dev/null
    exit $rc'
fi
