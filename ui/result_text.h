// The result line for a final status, shared by the window, the console line
// of a silent run and the message box of a window that cannot be drawn.
#pragma once

#include <cstdint>
#include <filesystem>

#include "app/status.h"

// The status's text from Update.ini and, for codes shown with their value,
// " (0X%08X)" behind it. A text too long for `size` is cut so that the code
// always stays whole at the end.
void UpdateResultText(TbtStatus status, uint16_t langId, wchar_t* out, uint32_t size);

// The same from a given Update.ini; UpdateResultText passes LocalizedTextFile().
void UpdateResultTextFrom(const std::filesystem::path& iniFile, TbtStatus status, uint16_t langId,
                          wchar_t* out, uint32_t size);
