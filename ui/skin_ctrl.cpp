#include "ui/skin_ctrl.h"

#include <cmath>
#include <vector>

#include "ui/layered_dialog.h"

BEGIN_MESSAGE_MAP(CSkinCtrl, CWnd)
ON_WM_ENABLE()
ON_WM_MOVE()
ON_WM_SIZE()
ON_MESSAGE(WM_SETTEXT, &CSkinCtrl::OnSetText)
END_MESSAGE_MAP()

void CSkinCtrl::PreSubclassWindow() {
  const DWORD dwStyle = GetStyle();
  m_bVisible = (dwStyle & WS_VISIBLE) ? TRUE : FALSE;
  m_bDisabled = (dwStyle & WS_DISABLED) ? TRUE : FALSE;
}

void CSkinCtrl::RequestRedraw() {
  NotifyHost();
}

void CSkinCtrl::NotifyHost() {
  if (m_pHost) m_pHost->Redraw(this);
}

BOOL CSkinCtrl::ShowWindow(int nCmdShow) {
  const BOOL bResult = CWnd::ShowWindow(nCmdShow);
  const BOOL bVisible = (GetStyle() & WS_VISIBLE) ? TRUE : FALSE;
  if (bVisible != m_bVisible) {
    m_bVisible = bVisible;
    NotifyHost();
  }
  return bResult;
}

void CSkinCtrl::OnEnable(BOOL bEnable) {
  Default();
  const BOOL bDisabled = (bEnable != 1) ? TRUE : FALSE;
  if (bDisabled == m_bDisabled) return;
  m_bDisabled = bDisabled;
  RequestRedraw();
}

void CSkinCtrl::OnMove(int, int) {
  Default();
  RequestRedraw();
}

void CSkinCtrl::OnSize(UINT, int, int) {
  Default();
  RequestRedraw();
}

LRESULT CSkinCtrl::OnSetText(WPARAM, LPARAM) {
  const LRESULT lResult = Default();
  RequestRedraw();
  return lResult;
}

Gdiplus::RectF CSkinCtrl::GetDrawRect() const {
  RECT rc{};
  ::GetWindowRect(m_hWnd, &rc);
  ::MapWindowPoints(nullptr, ::GetParent(m_hWnd), reinterpret_cast<POINT*>(&rc), 2);
  return Gdiplus::RectF(static_cast<Gdiplus::REAL>(rc.left), static_cast<Gdiplus::REAL>(rc.top),
                        static_cast<Gdiplus::REAL>(rc.right - rc.left),
                        static_cast<Gdiplus::REAL>(rc.bottom - rc.top));
}

void CSkinCtrl::DrawArt(Gdiplus::Graphics* pGraphics, ResourceImage* pImage, const Gdiplus::RectF& rect) {
  const bool bOneToOne = static_cast<Gdiplus::REAL>(pImage->GetWidth()) == rect.Width &&
                         static_cast<Gdiplus::REAL>(pImage->GetHeight()) == rect.Height &&
                         rect.X == std::floor(rect.X) && rect.Y == std::floor(rect.Y);
  if (!bOneToOne) {
    pGraphics->DrawImage(pImage, rect);
    return;
  }
  // A surface that asks for speed gets 1:1 art straight from the art's own
  // premultiplied pixels: from the host onto the surface's rows while it
  // paints them, or else blended by GDI. GDI+ would copy them twice first.
  if (pGraphics->GetCompositingQuality() != Gdiplus::CompositingQualityHighSpeed) {
    DrawNearest(pGraphics, pImage, rect);
    return;
  }
  if (m_pHost) {
    // What GDI+ and GDI have drawn must be on the surface before its rows are.
    pGraphics->Flush(Gdiplus::FlushIntentionSync);
    ::GdiFlush();
    if (m_pHost->PutArt(pImage, static_cast<int>(rect.X), static_cast<int>(rect.Y))) return;
  }
  HBITMAP hArt = ResourceImageDib(pImage);
  if (hArt) {
    if (HDC hdc = pGraphics->GetHDC()) {
      HDC hdcArt = ::CreateCompatibleDC(hdc);
      HGDIOBJ hOld = ::SelectObject(hdcArt, hArt);
      const int x = static_cast<int>(rect.X), y = static_cast<int>(rect.Y);
      const int cx = static_cast<int>(rect.Width), cy = static_cast<int>(rect.Height);
      const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
      ::GdiAlphaBlend(hdc, x, y, cx, cy, hdcArt, 0, 0, cx, cy, blend);
      ::SelectObject(hdcArt, hOld);
      ::DeleteDC(hdcArt);
      pGraphics->ReleaseHDC(hdc);
      return;
    }
  }
  DrawNearest(pGraphics, pImage, rect);
}

void CSkinCtrl::DrawNearest(Gdiplus::Graphics* pGraphics, ResourceImage* pImage, const Gdiplus::RectF& rect) {
  const Gdiplus::InterpolationMode previous = pGraphics->GetInterpolationMode();
  pGraphics->SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
  pGraphics->DrawImage(pImage, rect);
  pGraphics->SetInterpolationMode(previous);
}

std::wstring CSkinCtrl::GetCaption() const {
  const int nLength = GetWindowTextLengthW();
  if (nLength <= 0) return std::wstring();
  std::vector<wchar_t> buffer(static_cast<size_t>(nLength) + 1, L'\0');
  const int nCopied = GetWindowTextW(buffer.data(), nLength + 1);
  return std::wstring(buffer.data(), nCopied > 0 ? static_cast<size_t>(nCopied) : 0);
}

Gdiplus::Font* CSkinCtrl::CreateSkinFont(LPCWSTR pszFace, float fSize, int nStyle, int nUnit) {
  const auto unit = static_cast<Gdiplus::Unit>(nUnit);
  // GenericSansSerif() is obtained once and kept for the life of the process.
  Gdiplus::FontFamily named(pszFace ? pszFace : L"");
  const Gdiplus::FontFamily* pFamily =
      named.GetLastStatus() == Gdiplus::Ok ? &named : Gdiplus::FontFamily::GenericSansSerif();
  auto* pFont = new Gdiplus::Font(pFamily, fSize, nStyle, unit);
  if (pFont->GetLastStatus() != Gdiplus::Ok && pFamily != Gdiplus::FontFamily::GenericSansSerif()) {
    delete pFont;
    pFont = new Gdiplus::Font(Gdiplus::FontFamily::GenericSansSerif(), fSize, nStyle, unit);
  }
  return pFont;
}
