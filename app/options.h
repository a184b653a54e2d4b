// Command-line options, case-insensitive, in any order: "/downgradable" and
// "/LID:<hex>" for every run; "/s", "/c", "/l=PATH" and "/?" for deployment.
#pragma once

#include <cstdint>
#include <string>

#include "app/exit_codes.h"  // kExitInvalidCommandLine

// Applies argv[1..argc-1] to the two option fields; anything else is ignored
// and a later option wins. Always returns true.
bool ParseOptions(int argc, const wchar_t* const* argv, int32_t& downgradable, uint16_t& langId);

struct UpdateOptions {
  int32_t downgradable = 0;  // BOOL: an older image may be written
  uint16_t langId = 0;       // the texts' language
  bool silent = false;       // "/s": no window; the exit code is the outcome
  bool checkOnly = false;    // "/c": everything but the write (implies silent)
  bool help = false;         // "/?": the options and exit codes
  std::wstring logPath;      // "/l=PATH": append a log there; empty: no log; never holds '"' or '*', nor
                             // '?' but in a leading \\?\ (before a drive or a UNC share)
  // A run with "/s" or "/c" takes only the options above, each well formed:
  // the first argument that is not, as given; empty when the line is sound.
  // A run with a bad argument must end at once, touching nothing.
  std::wstring badArgument;
};

// All options into `options`; fields of options not given keep their values.
// Without "/s" and "/c" (the window) unknown arguments are ignored and a log
// path that cannot be a file name keeps no log. With either, the first
// unknown or malformed argument lands in badArgument. Always returns true.
bool ParseOptions(int argc, const wchar_t* const* argv, UpdateOptions& options);
