// Shared by the window test programs: GDI+ for the whole run, the test texts
// beside the executable, message pumping and reading back a rendered surface.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ui/layered_dialog.h"

// Language ids with sections of their own in the test Update.ini.
constexpr uint16_t kTestLangEnglish = 0x0409;
constexpr uint16_t kTestLangJapanese = 0x0411;
constexpr uint16_t kTestLangLongError = 0x0407;  // IDS_ERROR of 300 characters

// The test text of `key` in the English section ("<key> en"), Japanese
// section ("<key> ja"), and the long error text.
std::wstring TestText(const wchar_t* key, uint16_t langId = kTestLangEnglish);
std::wstring TestLongErrorText();

// Writes data\Update.ini beside the running executable.
void WriteTestUpdateIni();

// Dispatches the thread's messages for about `ms` milliseconds.
void PumpMessages(DWORD ms);

// A rendered surface, read back top-down as premultiplied 0xAARRGGBB.
struct Surface {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;
  uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  // How many pixels inside [x0, x1) x [y0, y1) equal `argb`.
  int Count(uint32_t argb, int x0, int y0, int x1, int y1) const;
};

// Renders the dialog's surface the way Compose does (top-down 32-bpp DIB
// section on a memory DC), without handing it to the window manager.
Surface RenderSurface(CLayeredDialog& dlg);
// The same picture drawn the straightforward way: a bottom-up surface, the
// background as plain ARGB blended onto it, then each visible control's Draw.
Surface RenderStraightforward(CLayeredDialog& dlg);

// Colour channels of a pixel, and a loose comparison for resampled art.
inline int Red(uint32_t argb) {
  return (argb >> 16) & 0xFF;
}
inline int Green(uint32_t argb) {
  return (argb >> 8) & 0xFF;
}
inline int Blue(uint32_t argb) {
  return argb & 0xFF;
}
inline int Alpha(uint32_t argb) {
  return (argb >> 24) & 0xFF;
}
bool Near(uint32_t argb, uint32_t expected, int tolerance = 2);

// The state of one template control of a dialog, read from its window style.
struct CtrlState {
  bool visible;
  bool enabled;
};
CtrlState StateOf(HWND hDlg, int nId);
std::wstring WindowText(HWND hWnd);
