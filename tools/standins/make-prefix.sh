#!/usr/bin/env bash
# Builds (or reuses) a Wine prefix with the simulated hardware installed:
#   make-prefix.sh PREFIX --bin32 DIR --bin64 DIR [--without provider|service|acpi]...
#   make-prefix.sh PREFIX --base-only [--without ...]...
# --base-only does Wine's set-up and the registrations, which need no binaries,
# so that it can run while they are still being built.
# DIRs hold the built stand-ins (i686: tbtsim_provider.dll; x86_64:
# tbtsim_provider.dll, tbtsim_service.exe, qmxacpi.sys). A prefix is made once
# and reused while valid: .tbtsim-base holds a hash of this script and of
# scripts/wine-env.sh (Wine's own part of the set-up), the chosen stand-ins and
# the Wine version (a mismatch rebuilds the prefix), .tbtsim-bins a hash of the
# installed binaries (a mismatch copies them again). A failed step is shown
# with its output; the whole log is PREFIX.log.
# Inside the prefix, C:\tbtsim holds the binaries (bin\x86, bin\x64), the
# provider's settings (provider.ini) and the stand-ins' records.
set -euo pipefail

usage() {
  echo "usage: $0 PREFIX (--bin32 DIR --bin64 DIR | --base-only) [--without provider|service|acpi]..." >&2
  exit 2
}

[ $# -ge 1 ] || usage
PREFIX="$(realpath -m "$1")"
shift
BIN32="" BIN64="" BASE_ONLY=0
WITH_PROVIDER=1 WITH_SERVICE=1 WITH_ACPI=1
while [ $# -gt 0 ]; do
  case "$1" in
    --bin32) BIN32="$(realpath -m "$2")"; shift 2 ;;
    --bin64) BIN64="$(realpath -m "$2")"; shift 2 ;;
    --base-only) BASE_ONLY=1; shift ;;
    --without)
      case "$2" in
        provider) WITH_PROVIDER=0 ;;
        service) WITH_SERVICE=0 ;;
        acpi) WITH_ACPI=0 ;;
        *) usage ;;
      esac
      shift 2 ;;
    *) usage ;;
  esac
done

export WINEPREFIX="$PREFIX"
. "$(dirname "$0")/../../scripts/wine-env.sh"
WINE64=/usr/lib/wine/wine64
LOCATOR_KEY='HKLM\Software\Classes\CLSID\{4590F811-1D3A-11D0-891F-00AA004B2E24}\InprocServer32'

# The binaries this prefix gets, as "source|destination under drive_c/tbtsim/bin".
files=()
if [ $WITH_PROVIDER = 1 ]; then
  files+=("$BIN32/tbtsim_provider.dll|x86/tbtsim_provider.dll" "$BIN64/tbtsim_provider.dll|x64/tbtsim_provider.dll")
fi
[ $WITH_SERVICE = 1 ] && files+=("$BIN64/tbtsim_service.exe|x64/tbtsim_service.exe")
[ $WITH_ACPI = 1 ] && files+=("$BIN64/qmxacpi.sys|x64/qmxacpi.sys")
[ $BASE_ONLY = 1 ] || for f in "${files[@]}"; do
  src="${f%%|*}"
  [ -f "$src" ] || { echo "make-prefix: missing $src (build the stand-ins first)" >&2; exit 1; }
done

base_stamp="$( { cat "$0" "$TBT_ROOT/scripts/wine-env.sh" | sha256sum; echo "provider=$WITH_PROVIDER service=$WITH_SERVICE acpi=$WITH_ACPI"; wine --version; } | sha256sum | cut -d' ' -f1)"
[ $BASE_ONLY = 1 ] || bins_stamp="$(for f in "${files[@]}"; do echo "${f#*|}"; sha256sum <"${f%%|*}"; done | sha256sum | cut -d' ' -f1)"

# The simulated hardware's registrations, after Wine's own set-up.
register_standins() {
  mkdir -p "$PREFIX/drive_c/tbtsim/bin/x86" "$PREFIX/drive_c/tbtsim/bin/x64" || return
  if [ $WITH_PROVIDER = 1 ]; then
    # HKLM in each registry view: an HKCU override is not honoured for this class.
    tbt_step wine reg add "$LOCATOR_KEY" /ve /d 'C:\tbtsim\bin\x86\tbtsim_provider.dll' /f /reg:32 &&
      tbt_step wine reg add "$LOCATOR_KEY" /v ThreadingModel /d Both /f /reg:32 &&
      tbt_step wine reg add "$LOCATOR_KEY" /ve /d 'C:\tbtsim\bin\x64\tbtsim_provider.dll' /f /reg:64 &&
      tbt_step wine reg add "$LOCATOR_KEY" /v ThreadingModel /d Both /f /reg:64 || return
  fi
  if [ $WITH_SERVICE = 1 ]; then
    tbt_step $WINE64 sc create ThunderboltService \
      binPath= 'C:\tbtsim\bin\x64\tbtsim_service.exe C:\tbtsim\service.log' || return
  fi
  if [ $WITH_ACPI = 1 ]; then
    # "sc config start= auto" fails for drivers; a demand-started one vanishes with the server.
    tbt_step $WINE64 sc create QMXACPI type= kernel binPath= 'C:\tbtsim\bin\x64\qmxacpi.sys' &&
      tbt_step wine reg add 'HKLM\System\CurrentControlSet\Services\QMXACPI' /v Start /t REG_DWORD /d 2 /f /reg:64 ||
      return
  fi
}

make_base() {
  echo "make-prefix: creating $PREFIX"
  tbt_new_prefix register_standins || exit 1
  rm -f "$PREFIX/.tbtsim-bins"
  echo "$base_stamp" >"$PREFIX/.tbtsim-base"
}

install_bins() {
  echo "make-prefix: installing stand-ins into $PREFIX"
  # Nothing may hold the driver or the service while their files are replaced.
  wineserver -k 2>/dev/null || true
  for f in "${files[@]}"; do
    local dst="$PREFIX/drive_c/tbtsim/bin/${f#*|}"
    mkdir -p "$(dirname "$dst")"
    cp -f "${f%%|*}" "$dst.new"
    mv -f "$dst.new" "$dst"
  done
  echo "$bins_stamp" >"$PREFIX/.tbtsim-bins"
}

mkdir -p "$(dirname "$PREFIX")"
(
  flock 9
  [ "$(cat "$PREFIX/.tbtsim-base" 2>/dev/null)" = "$base_stamp" ] || make_base
  [ $BASE_ONLY = 1 ] || [ "$(cat "$PREFIX/.tbtsim-bins" 2>/dev/null)" = "$bins_stamp" ] || install_bins
) 9>"$PREFIX.lock"
[ $BASE_ONLY = 1 ] && what="Wine set up" || what=ready
echo "make-prefix: $PREFIX $what (provider=$WITH_PROVIDER service=$WITH_SERVICE acpi=$WITH_ACPI)"
