#include "ui/layered_dialog.h"

#include <algorithm>

POINT CenterInWorkArea(const RECT& rcWork, int nWidth, int nHeight) {
  return POINT{rcWork.left + (rcWork.right - rcWork.left - nWidth) / 2,
               rcWork.top + (rcWork.bottom - rcWork.top - nHeight) / 2};
}

size_t NextChildCapacity(size_t nSize, size_t nCapacity) {
  if (nCapacity == 0) return 1;
  const size_t nStep = std::clamp<size_t>(nSize / 8, 4, 1024);
  return std::max(nCapacity + nStep, nSize + 1);
}

BEGIN_MESSAGE_MAP(CLayeredDialog, CDialog)
ON_WM_CREATE()
ON_WM_ERASEBKGND()
ON_WM_LBUTTONDOWN()
END_MESSAGE_MAP()

CLayeredDialog::CLayeredDialog(UINT nIDTemplate, CWnd* pParentWnd) : CDialog(nIDTemplate, pParentWnd) {}

CLayeredDialog::~CLayeredDialog() {
  // Normally gone already through ReleaseResources on WM_DESTROY.
  delete m_pBackground;
}

int CLayeredDialog::OnCreate(LPCREATESTRUCTW) {
  if (Default() == -1) return -1;
  ModifyStyle(WS_CAPTION, WS_POPUP);
  return 0;
}

BOOL CLayeredDialog::OnEraseBkgnd(HDC) {
  return TRUE;
}

void CLayeredDialog::OnLButtonDown(UINT, POINT) {
  // The system move loop returns when the button is released.
  SendMessageW(WM_SYSCOMMAND, SC_MOVE + HTCAPTION, 0);
  Default();
}

BOOL CLayeredDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  m_blend = BLENDFUNCTION{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  LayoutControls();
  Compose();
  return TRUE;
}

void CLayeredDialog::Redraw(CSkinCtrl*) {
  Compose();
}

void CLayeredDialog::SetBackground(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale) {
  delete m_pBackground;
  m_pBackground = LoadResourceImage(nId, pszType, hInst, dScale);
  FitToWorkArea();
}

void CLayeredDialog::FitToWorkArea() {
  if (!m_pBackground) return;
  const int nWidth = static_cast<int>(m_pBackground->GetWidth());
  const int nHeight = static_cast<int>(m_pBackground->GetHeight());
  RECT rcOuter{0, 0, nWidth, nHeight};
  ::AdjustWindowRect(&rcOuter, GetStyle(), FALSE);
  const RECT rcWork = GetWorkArea();
  const POINT pt = CenterInWorkArea(rcWork, rcOuter.right - rcOuter.left, rcOuter.bottom - rcOuter.top);
  MoveWindow(pt.x, pt.y, nWidth, nHeight, TRUE);
  Compose();
}

RECT CLayeredDialog::GetWorkArea() const {
  RECT rcSystem{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcSystem, 0);
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &info)) return rcSystem;
  // On a monitor of its own the window has that monitor's work area. On the
  // primary one both records describe the same area, and a platform may keep
  // only one of them current (after a change of display mode, or of the
  // taskbar): the area both allow is the one the window may use.
  RECT rcBoth{};
  if ((info.dwFlags & MONITORINFOF_PRIMARY) && ::IntersectRect(&rcBoth, &info.rcWork, &rcSystem))
    return rcBoth;
  return info.rcWork;
}

void CLayeredDialog::AddChild(CSkinCtrl* pCtrl) {
  if (!pCtrl) return;
  pCtrl->m_pHost = this;
  if (std::find(m_children.begin(), m_children.end(), pCtrl) != m_children.end()) return;
  if (m_children.size() == m_children.capacity())
    m_children.reserve(NextChildCapacity(m_children.size(), m_children.capacity()));
  m_children.push_back(pCtrl);
}

void CLayeredDialog::ReleaseResources() {
  std::vector<CSkinCtrl*>().swap(m_children);
  delete m_pBackground;
  m_pBackground = nullptr;
}

bool CLayeredDialog::HasSurface() const {
  return m_pBackground && m_pBackground->GetWidth() > 0 && m_pBackground->GetHeight() > 0;
}

void CLayeredDialog::PaintSurface(HDC hdcMem, void* pBits) {
  const INT nWidth = static_cast<INT>(m_pBackground ? m_pBackground->GetWidth() : 0);
  const INT nHeight = static_cast<INT>(m_pBackground ? m_pBackground->GetHeight() : 0);
  // The background is the first thing on an empty surface: copied, not
  // blended. The art is held in the surface's own format, so this is one copy
  // of its rows into the top-down surface.
  const bool bCopied = PutArtOnSurface(m_pBackground, ArtPut::kCopy, pBits, nWidth, nHeight, 0, 0);
  m_pPaintBits = pBits;

  Gdiplus::Graphics graphics(hdcMem);
  graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintAntiAlias);
  // Lets the controls put their 1:1 art down by the fastest means.
  graphics.SetCompositingQuality(Gdiplus::CompositingQualityHighSpeed);
  if (m_pBackground && !bCopied) graphics.DrawImage(m_pBackground, 0, 0, nWidth, nHeight);
  // By index: a control's Draw never registers anything, but the size is
  // read afresh each time all the same.
  for (size_t i = 0; i < m_children.size(); ++i) {
    if (m_children[i]->m_bVisible) m_children[i]->Draw(&graphics);
  }
  m_pPaintBits = nullptr;
}

bool CLayeredDialog::PutArt(ResourceImage* pImage, int x, int y) {
  if (!m_pPaintBits || !m_pBackground) return false;
  return PutArtOnSurface(pImage, ArtPut::kBlend, m_pPaintBits, static_cast<int>(m_pBackground->GetWidth()),
                         static_cast<int>(m_pBackground->GetHeight()), x, y);
}

void CLayeredDialog::Compose() {
  if (!m_pBackground || !m_hWnd) return;
  const int nWidth = static_cast<int>(m_pBackground->GetWidth());
  const int nHeight = static_cast<int>(m_pBackground->GetHeight());

  if (!(GetExStyle() & WS_EX_LAYERED)) ModifyStyleEx(0, WS_EX_LAYERED);

  HDC hdcWindow = ::GetDC(m_hWnd);
  HDC hdcMem = ::CreateCompatibleDC(hdcWindow);
  RECT rcWindow{};
  GetWindowRect(&rcWindow);
  POINT ptDest{rcWindow.left, rcWindow.top};

  BITMAPINFO bmi{};
  bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bmi.bmiHeader.biWidth = nWidth;
  bmi.bmiHeader.biHeight = -nHeight;  // top-down rows, as the art's
  bmi.bmiHeader.biPlanes = 1;
  bmi.bmiHeader.biBitCount = 32;
  bmi.bmiHeader.biCompression = BI_RGB;
  bmi.bmiHeader.biSizeImage = static_cast<DWORD>(nWidth) * 4u * static_cast<DWORD>(nHeight);
  void* pBits = nullptr;
  HBITMAP hDib = ::CreateDIBSection(hdcWindow, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
  if (hDib) {
    HGDIOBJ hOld = ::SelectObject(hdcMem, hDib);
    PaintSurface(hdcMem, pBits);

    using UpdateLayeredWindowFn =
        BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF, BLENDFUNCTION*, DWORD);
    if (HMODULE hUser32 = ::LoadLibraryW(L"User32.DLL")) {
      auto pfnUpdate = reinterpret_cast<UpdateLayeredWindowFn>(
          reinterpret_cast<void*>(::GetProcAddress(hUser32, "UpdateLayeredWindow")));
      if (pfnUpdate) {
        SIZE size{nWidth, nHeight};
        POINT ptSrc{0, 0};
        pfnUpdate(m_hWnd, hdcWindow, &ptDest, &size, hdcMem, &ptSrc, 0, &m_blend, ULW_ALPHA);
      }
      ::FreeLibrary(hUser32);
    }
    ::SelectObject(hdcMem, hOld);
    ::DeleteObject(hDib);
  }
  ::DeleteDC(hdcMem);
  ::ReleaseDC(m_hWnd, hdcWindow);
}
