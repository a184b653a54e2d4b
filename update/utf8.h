// Text as UTF-8, for the support log and for output handed down to a file
// or a pipe.
#pragma once

#include <string>

// `text` in UTF-8; empty for empty text or text the platform cannot convert.
std::string Utf8(const std::wstring& text);
