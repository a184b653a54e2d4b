// Command-line options: "/downgradable" and "/LID:<hex>", case-insensitive.
#pragma once

#include <cstdint>

// Applies argv[1..argc-1] to the two option fields; anything else is ignored
// and a later option wins. Always returns true.
bool ParseOptions(int argc, const wchar_t* const* argv, int32_t& downgradable, uint16_t& langId);
