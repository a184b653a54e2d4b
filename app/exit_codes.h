// Every exit code the program can end with, in one table: the usage text is
// written from it and a test holds README's list against it. A new code is a
// new row here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The codes that are not step statuses (app/status.h holds those): Windows
// error codes the window and the command line end with. Every other place
// that names one of them takes it from here.
constexpr uint32_t kExitCancelled = 1223;            // ERROR_CANCELLED
constexpr uint32_t kExitGraphicsNotStarted = 1114;   // ERROR_DLL_INIT_FAILED
constexpr uint32_t kExitNoWindowArt = 1812;          // ERROR_RESOURCE_DATA_NOT_FOUND
constexpr uint32_t kExitSystemLibraryMissing = 126;  // ERROR_MOD_NOT_FOUND
// Windows Installer's ERROR_INVALID_COMMAND_LINE, which deployment software
// already knows: a refused command line and "/?".
constexpr uint32_t kExitInvalidCommandLine = 1639;

struct ExitCodeRow {
  uint32_t code;
  const char* name;     // symbolic name; nullptr for the provider's own codes
  const char* meaning;  // one line, for the usage text
  bool anyOther;        // the row that stands for every code not listed
};

// The rows in the order the usage text lists them; the last is "other".
const ExitCodeRow* ExitCodeRows(size_t& count);

// The row of `code`, or nullptr for a code that is not ours nor the window's
// nor the command line's (a provider's own).
const ExitCodeRow* FindExitCode(uint32_t code);

// Whether `code` means one of the program's own outcomes: its 0x1043 family
// (numbers it has not used yet included) or a Windows code it ends with. A
// provider's value that is one of them must never reach the exit code, the
// console or the record as itself, or it would tell something that did not
// happen (that nothing was written, that no attempt began).
bool IsOwnOutcome(uint32_t code);

// The options and the exit codes, as "/?" shows them (CRLF line ends).
std::wstring UsageText();
