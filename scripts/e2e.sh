#!/usr/bin/env bash
# End-to-end tests of the real program: builds the product (preset win32, in
# $E2E_PRODUCT_BUILD, default build/win32: the shipped i686 program, run inside
# scripts/i386-namespace where the kernel needs it; win64 only where 32-bit
# programs cannot be run at all) and the simulated hardware, prepares
# three Wine prefixes (all stand-ins; without the ACPI device; without the
# provider), then runs tests/e2e/run_e2e.sh under Xvfb with a compositor.
# Records of every run go to build/e2e-out. Last line: "N passed, M failed".
# E2E_SWEEP=full (or sample) runs the crash-point sweep alone (scripts/crash-sweep.sh).
set -uo pipefail
self=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")  # re-run inside the namespace from the top folder
cd "$(dirname "$self")/.." || exit 1
root=$PWD
# What the runs need beside the demo's (file; zip, unzip, python3 for the
# release case), installed before the namespace, where nothing can be.
if [ -z "${TBT_I386_NS:-}" ]; then
  bash scripts/install-deps.sh --e2e || { echo "e2e: cannot install what the runs need"; echo "0 passed, 1 failed"; exit 1; }
fi
. scripts/wine-env.sh  # TBT_WIN_PRESET: the build whose programs this machine can run
tbt_enter_i386 "$self" "$@"
product_build=${E2E_PRODUCT_BUILD:-build/$TBT_WIN_PRESET}
win64=build/e2e-win64
export E2E_OUT="$root/build/e2e-out"

give_up() {
  echo "e2e: $*"
  echo "0 passed, 1 failed"
  exit 1
}

# The three prefixes: all stand-ins, without the ACPI device, without the provider.
prefixes=("build/e2e-prefix-full" "build/e2e-prefix-noacpi --without acpi"
  "build/e2e-prefix-noprovider --without provider")
# The crash-point sweep alone (E2E_SWEEP, scripts/crash-sweep.sh) needs every stand-in only.
[ -z "${E2E_SWEEP:-}" ] || prefixes=("build/e2e-prefix-full")
# Wine's set-up of each needs none of the binaries: it runs while they are built.
(for p in "${prefixes[@]}"; do tools/standins/make-prefix.sh $p --base-only; done) >/dev/null 2>&1 &
prefix_bases=$!
trap 'kill $prefix_bases 2>/dev/null' EXIT
if [ ! -f "$product_build/build.ninja" ]; then
  cmake --preset "$TBT_WIN_PRESET" -B "$product_build" >/dev/null || give_up "cannot configure $product_build"
fi
cmake --build "$product_build" -j2 --target TbtFwUpdate tbtsim_provider tbtsim_probe inspector nvmcheck ||
  give_up "cannot build the product and its test helpers in $product_build"
if [ ! -f "$win64/build.ninja" ]; then
  cmake -G Ninja -B "$win64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" tools/standins \
    >/dev/null || give_up "cannot configure $win64"
fi
cmake --build "$win64" -j2 --target tbtsim_provider tbtsim_service qmxacpi || give_up "cannot build the 64-bit stand-ins"

wait $prefix_bases  # a failed set-up is done again, and shown, just below
make_prefix() { tools/standins/make-prefix.sh "$@" --bin32 "$product_build/bin" --bin64 "$win64/bin"; }
# Each prefix holds its own 1.3 GB copy of Wine's programs, libraries and
# fonts, the same files in all three: hard-linked, one copy is kept, which
# leaves room on a small disk. Nothing writes these files once a prefix is set
# up, and a prefix is rebuilt from scratch, never updated in place.
share_wine_files() {
  command -v hardlink >/dev/null || return 0
  hardlink -q -t -i '\.(dll|exe|sys|drv|nls|tlb|acm|cpl|ocx|ax|ds|mui|vxd|com|ttf|ttc|otf|fon)$' \
    "${@/%//drive_c/windows}" >/dev/null 2>&1 || true
}
made=()
for p in "${prefixes[@]}"; do
  make_prefix $p || give_up "cannot prepare ${p%% *}"
  made+=("${p%% *}")
  [ ${#made[@]} -lt 2 ] || share_wine_files "${made[@]}"  # before the next copy takes room
done

# E2E_PRODUCT may name another folder with TbtFwUpdate.exe and data\Update.ini
# (a scratch build with a fault put back, say); the helpers stay the build's.
export E2E_PRODUCT=${E2E_PRODUCT:-"$root/$product_build/bin"}
# What every run's log must say it ran as: the shipped program is 32-bit.
case "$(file -b "$E2E_PRODUCT/TbtFwUpdate.exe")" in
  *"Intel 80386"*) export E2E_PROCESS_KIND="32-bit on 64-bit Windows (WoW64)" ;;
  *) export E2E_PROCESS_KIND="64-bit" ;;
esac
export E2E_TOOLS="$root/$product_build/bin"
export E2E_SAMPLES="$root/samples"
export E2E_PREFIX_FULL="$root/build/e2e-prefix-full"
export E2E_PREFIX_NOACPI="$root/build/e2e-prefix-noacpi"
export E2E_PREFIX_NOPROVIDER="$root/build/e2e-prefix-noprovider"
rm -rf "$E2E_OUT"
mkdir -p "$E2E_OUT"

# Large screen (scale 1.0); the compositor lets per-pixel alpha reach the screen.
xvfb-run -a -s '-screen 0 2560x1440x24' bash -c '
  display -window root -size 8x8 "xc:#2f5f8f" 2>/dev/null
  xcompmgr >/dev/null 2>&1 &
  compositor=$!
  bash tests/e2e/run_e2e.sh
  rc=$?
  kill $compositor 2>/dev/null
  exit $rc'
