// Text for whoever started the program from a console: the program has no
// console of its own (it is a window program), so it writes to the one it was
// started from, or to its redirected standard output.
#pragma once

#include <string>
#include <vector>

// Writes each line, ended by CR LF, with every control character in it shown
// escaped (EscapeControls): a line that quotes an argument, a path or a file
// cannot start another. False when there is nowhere to write.
bool WriteLinesToParentConsole(const std::vector<std::wstring>& lines);
inline bool WriteLineToParentConsole(const std::wstring& line) {
  return WriteLinesToParentConsole({line});
}
