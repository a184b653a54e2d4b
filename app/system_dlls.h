// Which libraries the elevated program may load: the system's, from System32
// only. The executable imports KnownDLLs alone (Windows maps those from the
// system's own section, never from beside the exe); every other system DLL is
// delay-loaded, and is loaded here from System32 before anything uses it.
#pragma once

#include <windows.h>

#include "app/exit_codes.h"

// The exit code of a run that could not load a system library from System32.
constexpr DWORD kExitSystemDllUnusable = kExitSystemLibraryMissing;

// Makes System32 the only folder any later library load searches, loads each
// delay-loaded DLL from there and binds every function the program takes from
// it. Must run before anything calls into one of those DLLs. Returns nullptr,
// or what could not be had that way: a library ("bcrypt.dll"), or a library
// and the function it lacks ("bcrypt.dll (BCryptHashData)"); the run must then
// end.
const wchar_t* UseSystemDllsOnly();

// A run without a window (/s, /c): a failure met after the start is reported
// on the console and in the log only, never in a message box.
void SetSystemDllRunWindowless(bool windowless);

// Says that `library` could not be loaded from the system folder and nothing
// was done: in the log (when one is kept) and on the console the program was
// started from, or else in a message box unless `silent` or nobody could see
// it (a window station that is not visible: a service, session 0).
void ReportUnusableSystemDll(const wchar_t* library, bool silent);
