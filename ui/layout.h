// The rules behind CUpdateDlg::LayoutControls: screen class, scale, type
// faces and type sizes.
#pragma once

#include <windows.h>

#include <cstddef>

// The full-size background art, whose size is the large window's.
constexpr int kLargeBackgroundWidth = 1560;
constexpr int kLargeBackgroundHeight = 1240;
// 1 (large, art at full size) when the full-size window, `nWindowWidth` x
// `nWindowHeight` with its frame, fits inside the work area; else 0 (small,
// art at half size). A screen's size alone is no guide: a 1920 x 1200 screen
// or a taskbar can leave less height than the large window needs.
int LayoutScreenClass(const RECT& rcWork, int nWindowWidth, int nWindowHeight);
// 1.0 for class 1, 0.5 for class 0.
double LayoutScaleFactor(int nScreenClass);
// A pixel value of the full-size art at the given scale, cut toward zero.
int LayoutScaled(int nValue, double dScale);
// The em size in pixels for a type size in points: MulDiv(points, dpi, 72)
// * (96 / dpi), so the DPI cancels up to rounding and text keeps its size
// relative to the (unscaled) art.
float LayoutEmSize(int nPoints, int nDpi);

// Faces follow the system's UI language, not the language of the texts.
struct LayoutFaces {
  LPCWSTR pszButton;  // Update, Exit, Shut down, Later
  int nButtonStyle;   // GDI+ font style: 0 regular, 1 bold
  LPCWSTR pszText;    // message and caution labels
  int nTextStyle;
};
LayoutFaces LayoutFacesFor(LANGID uiLanguage);
// The version label's face, at 20 points.
extern const wchar_t kVersionFace[];

// "V%d.%d.%d.%d" from the running executable's file version; false (and
// `out` untouched) when the version cannot be read.
bool LayoutVersionText(wchar_t* out, size_t size);
