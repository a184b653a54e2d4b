#!/usr/bin/env bash
# The built program's PE file: it imports only DLLs that Windows 7 (the oldest
# Windows it declares) maps from its KnownDLLs section, never from beside the
# exe; and it keeps its hardening (ASLR with relocations, NX, stack canaries).
#   exe_pe_check.sh OBJDUMP NM EXE
set -u
objdump=$1 nm=$2 exe=$3
# Windows 7's KnownDLLs that a program may import (ntdll is mapped before any search).
allowed=" advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt ntdll ole32 oleaut32 rpcrt4 sechost shell32 shlwapi user32 ws2_32 "
headers=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }
failed=0
fail() { echo "FAIL: $*"; failed=1; }

imports=$(sed -n 's/^\s*DLL Name: \(.*\)$/\1/p' <<<"$headers" | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
  [[ "$allowed" == *" $dll "* ]] || fail "imports $dll.dll, which Windows would look for beside the exe first"
done
echo "imports: $(echo $imports)"

grep -q '^\s*DYNAMIC_BASE$' <<<"$headers" || fail "no DYNAMIC_BASE (ASLR)"
grep -q '^\s*NX_COMPAT$' <<<"$headers" || fail "no NX_COMPAT"
# Relocations must be there for the loader to move the image.
characteristics=$(sed -n 's/^Characteristics\s*0x\([0-9a-fA-F]*\)$/\1/p' <<<"$headers")
(( (16#${characteristics:-1} & 0x1) == 0 )) || fail "relocations stripped"
"$objdump" -h "$exe" | grep -q ' \.reloc ' || fail "no .reloc section"
# Nothing asks a crypto provider for randomness before the program runs (the
# toolchain's own canary set-up would: a provider and its dependencies loaded
# before the search is restricted to System32).
grep -q 'CryptAcquireContext' <<<"$headers" && fail "imports CryptAcquireContext (a crypto provider loaded at start)"
# Functions built with -fstack-protector-strong call the canary check.
"$nm" "$exe" 2>/dev/null | grep -q '__stack_chk_fail$' || fail "no stack protector in the code"

[ $failed -eq 0 ] && echo "PASS"
exit $failed
