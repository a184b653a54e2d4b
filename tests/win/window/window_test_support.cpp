#include "window_test_support.h"

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&m_token, &input, nullptr);
    WriteTestUpdateIni();
  }
  void TearDown() override { Gdiplus::GdiplusShutdown(m_token); }

 private:
  ULONG_PTR m_token = 0;
};

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new GdiplusEnvironment);

const wchar_t* const kKeys[] = {
    L"IDS_UPDATE",         L"IDS_EXIT",        L"IDS_PROMPT",           L"IDS_CAUTION",    L"IDS_SHUTDOWN",
    L"IDS_SHUTDOWN_LATER", L"IDS_FIND_NO_QMX", L"IDS_SUCCESS",          L"IDS_FIND_NO_SW", L"IDS_DOWNGRADE",
    L"IDS_ERROR",          L"IDS_BUSY",        L"IDS_SHUTDOWN_BLOCKED", L"IDS_UPDATING",   L"IDS_CLOSE"};

}  // namespace

std::wstring TestText(const wchar_t* key, uint16_t langId) {
  return std::wstring(key) + (langId == kTestLangJapanese ? L" \u65E5\u672C" : L" en");
}

std::wstring TestLongErrorText() {
  std::wstring text;
  for (int i = 0; i < 30; ++i) text += L"error text";  // 300 characters
  return text;
}

void WriteTestUpdateIni() {
  std::wstring ini = L"\xFEFF[Language]\r\n0x409=English\r\n0x411=Japanese\r\n0x407=Long\r\n";
  ini += L"[English]\r\n";
  for (const wchar_t* key : kKeys) ini += std::wstring(key) + L"=" + TestText(key) + L"\r\n";
  ini += L"[Japanese]\r\n";
  for (const wchar_t* key : kKeys)
    ini += std::wstring(key) + L"=" + TestText(key, kTestLangJapanese) + L"\r\n";
  ini += L"[Long]\r\nIDS_ERROR=" + TestLongErrorText() + L"\r\n";

  wchar_t path[1024];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, 1024);
  std::wstring dir(path, n);
  dir.erase(dir.find_last_of(L'\\') + 1);
  ::CreateDirectoryW((dir + L"data").c_str(), nullptr);
  HANDLE hFile = ::CreateFileW((dir + L"data\\Update.ini").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot write the test Update.ini\n");
    std::abort();
  }
  DWORD written = 0;
  ::WriteFile(hFile, ini.data(), static_cast<DWORD>(ini.size() * sizeof(wchar_t)), &written, nullptr);
  ::CloseHandle(hFile);
}

void PumpMessages(DWORD ms) {
  const DWORD start = ::GetTickCount();
  MSG msg;
  do {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(1);
  } while (::GetTickCount() - start < ms);
}

int Surface::Count(uint32_t argb, int x0, int y0, int x1, int y1) const {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x)
      if (At(x, y) == argb) ++n;
  return n;
}

namespace {

// A fresh 32-bpp DIB section of the background's size on a memory DC, handed
// to `paint`, then read back top-down. `bTopDown` chooses the row order.
template <typename Paint>
Surface RenderWith(CLayeredDialog& dlg, bool bTopDown, Paint paint) {
  Surface surface;
  ResourceImage* pBackground = dlg.GetBackground();
  if (!pBackground) return surface;
  surface.width = static_cast<int>(pBackground->GetWidth());
  surface.height = static_cast<int>(pBackground->GetHeight());
  if (surface.width == 0 || surface.height == 0) return surface;

  HDC hdcScreen = ::GetDC(nullptr);
  HDC hdcMem = ::CreateCompatibleDC(hdcScreen);
  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = surface.width;
  bmi.bmiHeader.biHeight = bTopDown ? -surface.height : surface.height;
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  void* pBits = nullptr;
  HBITMAP hDib = ::CreateDIBSection(hdcScreen, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
  HGDIOBJ hOld = ::SelectObject(hdcMem, hDib);
  paint(hdcMem, pBits);
  ::GdiFlush();
  surface.pixels.resize(static_cast<size_t>(surface.width) * surface.height);
  const auto* pRows = static_cast<const uint32_t*>(pBits);
  for (int y = 0; y < surface.height; ++y) {
    const int row = bTopDown ? y : surface.height - 1 - y;
    const uint32_t* pRow = pRows + static_cast<size_t>(row) * surface.width;
    std::copy(pRow, pRow + surface.width, surface.pixels.begin() + static_cast<size_t>(y) * surface.width);
  }
  ::SelectObject(hdcMem, hOld);
  ::DeleteObject(hDib);
  ::DeleteDC(hdcMem);
  ::ReleaseDC(nullptr, hdcScreen);
  return surface;
}

}  // namespace

Surface RenderSurface(CLayeredDialog& dlg) {
  return RenderWith(dlg, true, [&dlg](HDC hdcMem, void* pBits) { dlg.PaintSurface(hdcMem, pBits); });
}

Surface RenderStraightforward(CLayeredDialog& dlg) {
  return RenderWith(dlg, false, [&dlg](HDC hdcMem, void*) {
    ResourceImage* pBackground = dlg.GetBackground();
    const INT w = static_cast<INT>(pBackground->GetWidth()), h = static_cast<INT>(pBackground->GetHeight());
    // The art as plain (not premultiplied) ARGB, blended onto the empty surface.
    std::unique_ptr<Gdiplus::Bitmap> plain(
        static_cast<Gdiplus::Bitmap*>(pBackground)->Clone(0, 0, w, h, PixelFormat32bppARGB));
    Gdiplus::Graphics graphics(hdcMem);
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
    graphics.DrawImage(plain.get(), 0, 0, w, h);
    for (size_t i = 0; i < dlg.GetChildCount(); ++i) {
      CSkinCtrl* pCtrl = dlg.GetChild(i);
      if (pCtrl->m_bVisible) pCtrl->Draw(&graphics);
    }
  });
}

bool Near(uint32_t argb, uint32_t expected, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8) {
    const int a = static_cast<int>((argb >> shift) & 0xFF);
    const int b = static_cast<int>((expected >> shift) & 0xFF);
    if (a - b > tolerance || b - a > tolerance) return false;
  }
  return true;
}

CtrlState StateOf(HWND hDlg, int nId) {
  const LONG style = ::GetWindowLongW(::GetDlgItem(hDlg, nId), GWL_STYLE);
  return CtrlState{(style & WS_VISIBLE) != 0, (style & WS_DISABLED) == 0};
}

std::wstring WindowText(HWND hWnd) {
  wchar_t sz[600] = L"";
  ::InternalGetWindowText(hWnd, sz, 600);
  return sz;
}
