// Every exit code the program can end with, in one table: the usage text is
// written from it and a test holds README's list against it. A new code is a
// new row here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// The options and the exit codes, as "/?" shows them (CRLF line ends).
std::wstring UsageText();
