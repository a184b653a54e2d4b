// Text for whoever started the program from a console: the program has no
// console of its own (it is a window program), so it writes to the one it was
// started from, or to its redirected standard output.
#pragma once

#include <string>

// Writes `text` (with its line ends); false when there is nowhere to write.
bool WriteToParentConsole(const std::wstring& text);
