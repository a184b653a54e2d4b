# shellcheck shell=bash
# DLLs planted beside the program, native-first forced: none of them runs.
# Sourced by run_e2e.sh, which holds the shared helpers and the plan.

# --- DLLs planted beside the program ----------------------------------------------

# Windows 7's KnownDLLs, which Windows maps from its own copies only.
KNOWN_DLLS=" advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt ntdll ole32 oleaut32 rpcrt4 sechost shell32 shlwapi user32 ws2_32 "
# What the program imported before it delay-loaded them: planted whatever a run shows.
FORMER_IMPORTS="version powrprof bcrypt gdiplus comctl32"

# The system DLLs a WINEDEBUG=+loaddll record shows loaded that are not
# KnownDLLs, so Windows would look for them beside the program first.
loaded_dlls() {  # RECORD...
  cat "$@" | tr -d '\r' | sed -n 's/.*:loaddll:.*Loaded L"[Cc]:\\\\windows\\\\\(system32\|syswow64\)\\\\\([^"\\]*\)\.dll".*/\2/p' |
    tr 'A-Z' 'a-z' | sort -u | while read -r d; do [[ "$KNOWN_DLLS" == *" $d "* ]] || echo "$d"; done
}

# Which DLLs a record shows loaded from the folder FOLDER_WIN (C:\...), by name.
dlls_loaded_from() {  # FOLDER_WIN RECORD...
  local folder=$1
  shift
  cat "$@" | tr -d '\r' | grep -F -i "Loaded L\"${folder//\\/\\\\}\\\\" | sed -n 's/.*\\\\\([^"\\]*\)\.dll".*/\1/p' |
    tr 'A-Z' 'a-z' | sort -u | tr '\n' ' '
}

# The compiler for the program's architecture, and where Wine keeps its own DLLs.
plant_toolchain() {
  if x86_64-w64-mingw32-objdump -f "$E2E_PRODUCT/TbtFwUpdate.exe" | grep -q 'pei-i386'; then
    PLANT_ARCH=i686 PLANT_STUB=planted_stub@16 PLANT_RUNDLL='C:\windows\syswow64\rundll32.exe'
  else
    PLANT_ARCH=x86_64 PLANT_STUB=planted_stub PLANT_RUNDLL=rundll32
  fi
  if [ $PLANT_ARCH = i686 ]; then
    PLANT_WINEDLLS=/usr/lib/i386-linux-gnu/wine/i386-windows
  else
    PLANT_WINEDLLS=/usr/lib/x86_64-linux-gnu/wine/x86_64-windows
  fi
}

# Builds planted_dll.c as DIR/NAME.dll for each NAME, exporting every name
# Wine's own NAME.dll exports, all leading to the one stub; with PLANT_BARE
# set, the stub alone: a library that loads but lacks every function.
plant_dlls() {  # DIR NAME...
  local dir=$1 name def
  shift
  mkdir -p "$E2E_OUT/planted"
  for name in "$@"; do
    def="$E2E_OUT/planted/$name.def"
    {
      echo "LIBRARY $name.dll"
      echo EXPORTS
      [ -z "${PLANT_BARE:-}" ] && [ -f "$PLANT_WINEDLLS/$name.dll" ] &&
        "$PLANT_ARCH-w64-mingw32-objdump" -p "$PLANT_WINEDLLS/$name.dll" |
        sed -n 's/^\s*\[\s*[0-9]*\] \([A-Za-z_][A-Za-z0-9_]*\)$/\1/p' | grep -vx planted_stub | sort -u |
        sed "s/\$/=$PLANT_STUB/"
      echo "planted_stub=$PLANT_STUB"
    } >"$def"
    "$PLANT_ARCH-w64-mingw32-gcc" -shared -s -o "$dir/$name.dll" "$(dirname "$0")/planted_dll.c" "$def" || return 1
  done
}

# A program that does nothing, importing the KnownDLLs the product imports:
# what Wine itself loads at the start of any such program (its builtins'
# own dependencies, which Windows resolves from the KnownDLLs) is no doing of
# the product's.
build_reference_exe() {  # OUT.exe
  local dll use="" libs=""
  for dll in $(x86_64-w64-mingw32-objdump -p "$E2E_PRODUCT/TbtFwUpdate.exe" | sed -n 's/^\s*DLL Name: \(.*\)\.[dD][lL][lL]$/\1/p' |
    tr 'A-Z' 'a-z'); do
    [[ "$KNOWN_DLLS" == *" $dll "* ]] || continue
    case $dll in
      advapi32) use+="(void*)RegCloseKey," ;; gdi32) use+="(void*)GetStockObject," ;;
      ole32) use+="(void*)CoInitialize," ;; oleaut32) use+="(void*)SysFreeString," ;;
      shell32) use+="(void*)CommandLineToArgvW," ;; user32) use+="(void*)MessageBoxW," ;;
      shlwapi) use+="(void*)PathFileExistsW," ;; comdlg32) use+="(void*)GetOpenFileNameW," ;;
      imm32) use+="(void*)ImmGetContext," ;; rpcrt4) use+="(void*)UuidCreate," ;; ws2_32) use+="(void*)WSAGetLastError," ;;
      *) continue ;;
    esac
    libs+=" -l$dll"
  done
  printf '%s\n' '#include <winsock2.h>' '#include <windows.h>' '#include <commdlg.h>' '#include <shlwapi.h>' \
    '#include <shellapi.h>' '#include <rpc.h>' '#include <stdio.h>' \
    "void* volatile g_uses[] = {$use 0};" 'int main(void) { return g_uses[0] ? 0 : 1; }' >"$E2E_OUT/planted/reference.c"
  # shellcheck disable=SC2086
  "$PLANT_ARCH-w64-mingw32-gcc" -o "$1" "$E2E_OUT/planted/reference.c" $libs
}

case_planted_dlls() {
  begin_case planted_dlls "copies of the DLLs it loads planted beside the program, native-first forced: none runs"
  use_run_sim planted
  configure_provider
  plant_toolchain
  mkdir -p "$E2E_OUT/planted"
  local names records=()
  # Which DLLs a silent run and a window run load, in Wine's usual order.
  WINEDEBUG=+loaddll run_silent planted-silent-1 "$OTHER_BOARD" /s
  expect_eq "exit code of the first silent run" 0x10430006 "$(exit_code)"
  records+=("$RUN_DIR/launcher.out")
  if WINEDEBUG=+loaddll start_product planted-window-1 "$NEWER" 2>/dev/null; then
    press 2 || fail "could not press the close cross"
    wait_exit 20 || fail "the window did not end after the close cross"
    expect_eq "exit code of the first window run" 0x000004C7 "$(exit_code)"
  else
    fail "the window did not appear"
  fi
  records+=("$RUN_DIR/launcher.out")
  names=$(printf '%s\n' $FORMER_IMPORTS $(loaded_dlls "${records[@]}") | sort -u | tr '\n' ' ')
  expect_true "the runs loaded the delay-loaded DLLs [$names]" \
    bash -c "[[ ' $names ' == *' gdiplus '* && ' $names ' == *' bcrypt '* && ' $names ' == *' powrprof '* ]]"

  # Wine's own start-up set: what a program that does nothing loads from its
  # folder with native-first forced for every name.
  local overrides wine_own ref_dir="$WINEPREFIX/drive_c/e2e/planted-reference"
  overrides="$WINEDLLOVERRIDES;$(echo $names | tr ' ' ',')=n,b"
  rm -rf "$ref_dir" && mkdir -p "$ref_dir"
  build_reference_exe "$ref_dir/reference.exe" || fail "could not build the reference program"
  plant_dlls "$ref_dir" $names || fail "could not build the planted DLLs"
  WINEDLLOVERRIDES=$overrides wine "$PLANT_RUNDLL" 'C:\e2e\planted-reference\version.dll,planted_stub' </dev/null >/dev/null 2>&1
  expect_true "a planted DLL that is loaded leaves its mark" test -f "$ref_dir/version.dll.ran"
  rm -f "$ref_dir"/*.ran
  WINEDLLOVERRIDES=$overrides WINEDEBUG=+loaddll wine 'C:\e2e\planted-reference\reference.exe' </dev/null \
    >"$ref_dir/record.txt" 2>&1
  wine_own=$(dlls_loaded_from 'C:\e2e\planted-reference' "$ref_dir/record.txt")
  echo "  loaded by Wine's own start of any program, left to Wine's order: ${wine_own:-none}"
  figure planted_dlls "$(echo $names | tr ' ' ',')"
  figure planted_wine_own "$(echo $wine_own | tr ' ' ',')"
  local forced=""
  for name in $names; do [[ " $wine_own " == *" $name "* ]] || forced+="$name,"; done
  overrides="$WINEDLLOVERRIDES;${forced%,}=n,b"
  echo "  native-first: ${forced%,}"
  expect_true "native-first forced for the delay-loaded DLLs" \
    bash -c "[[ ',$forced' == *',gdiplus,'* && ',$forced' == *',powrprof,'* ]]"

  # The same runs with a planted copy beside the program of each that Wine
  # does not load for itself before any code of the program runs.
  local silent_dir window_dir
  prepare_run planted-silent "$OTHER_BOARD"
  silent_dir=$RUN_DIR
  plant_dlls "$RUN_DIR" ${forced//,/ } || fail "could not build the planted DLLs"
  WINEDLLOVERRIDES=$overrides WINEDEBUG=+loaddll run_silent_prepared /s
  expect_eq "exit code of the silent run" 0x10430006 "$(exit_code)"
  expect_eq "UpdateFirmware executions" 0 "$(count_calls UpdateFirmware)"
  records=("$RUN_DIR/launcher.out")
  expect_eq "DLLs the silent run loaded from its folder" "" "$(dlls_loaded_from 'C:\e2e\planted-silent' "$RUN_DIR/launcher.out")"

  prepare_run planted-window "$NEWER"
  window_dir=$RUN_DIR
  plant_dlls "$RUN_DIR" ${forced//,/ } || fail "could not build the planted DLLs"
  if WINEDLLOVERRIDES=$overrides WINEDEBUG=+loaddll start_prepared_product 2>/dev/null; then
    read_state
    expect_control 1004 1 - "$(ini_text 409 IDS_PROMPT)"
    press 2 || fail "could not press the close cross"
    wait_exit 20 || fail "the window did not end after the close cross"
    expect_eq "exit code of the window run" 0x000004C7 "$(exit_code)"
  else
    fail "the window did not appear"
  fi
  expect_eq "DLLs the window run loaded from its folder" "" "$(dlls_loaded_from 'C:\e2e\planted-window' "$RUN_DIR/launcher.out")"
  expect_eq "planted DLLs whose DllMain ran" "" "$(cd "$silent_dir" && ls -- *.ran 2>/dev/null; cd "$window_dir" && ls -- *.ran 2>/dev/null)"
  end_case
}

