#include "ui/skin_button.h"

#include <algorithm>
#include <cmath>

// clang-format off
const Gdiplus::ColorMatrix kGrayscaleMatrix = {{
    {0.3f, 0.3f, 0.3f, 0.0f, 0.0f},
    {0.59f, 0.59f, 0.59f, 0.0f, 0.0f},
    {0.11f, 0.11f, 0.11f, 0.0f, 0.0f},
    {0.0f, 0.0f, 0.0f, 1.0f, 0.0f},
    {0.0f, 0.0f, 0.0f, 0.0f, 1.0f},
}};
const Gdiplus::ColorMatrix kHighlightMatrix = {{
    {1.05f, 0.0f, 0.0f, 0.0f, 0.0f},
    {0.0f, 1.05f, 0.0f, 0.0f, 0.0f},
    {0.0f, 0.0f, 1.05f, 0.0f, 0.0f},
    {0.0f, 0.0f, 0.0f, 1.0f, 0.0f},
    {0.05f, 0.05f, 0.05f, 0.0f, 1.0f},
}};
// clang-format on

namespace {
constexpr Gdiplus::ARGB kBlack = 0xFF000000;

// The focus cue: a ring inside the button's edge, in `colour` (the caption's,
// which reads on the button's face whatever its art). Its band is a pixel per
// 38 of the button's height, so two pixels on the large window's buttons and
// one on the small window's; it lies three bands in, clear of the art's own
// border, with corners that follow the art's.
void DrawFocusRing(Gdiplus::Graphics* pGraphics, const Gdiplus::RectF& rect, const Gdiplus::Color& colour) {
  const Gdiplus::REAL band = std::max(1.0f, std::floor(rect.Height / 38.0f));
  // The pen is centred on its path, and a pixel's centre is at its whole
  // coordinates (the last column at X + Width - 1): the band's rows and
  // columns are covered whole, without blur, alike on every side.
  const Gdiplus::REAL inset = band * 3 + (band - 1) / 2;
  const Gdiplus::RectF ring(rect.X + inset, rect.Y + inset, rect.Width - 1 - 2 * inset,
                            rect.Height - 1 - 2 * inset);
  if (ring.Width <= 0 || ring.Height <= 0) return;
  const Gdiplus::REAL d = std::min({band * 4, ring.Width, ring.Height});  // a corner's diameter
  Gdiplus::GraphicsPath path;
  path.AddArc(ring.X, ring.Y, d, d, 180.0f, 90.0f);
  path.AddArc(ring.GetRight() - d, ring.Y, d, d, 270.0f, 90.0f);
  path.AddArc(ring.GetRight() - d, ring.GetBottom() - d, d, d, 0.0f, 90.0f);
  path.AddArc(ring.X, ring.GetBottom() - d, d, d, 90.0f, 90.0f);
  path.CloseFigure();
  const Gdiplus::GraphicsState state = pGraphics->Save();
  pGraphics->SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
  Gdiplus::Pen pen(colour, band);
  pGraphics->DrawPath(&pen, &path);
  pGraphics->Restore(state);
}

// Draws the whole of `pImage` into `rect` through a colour matrix.
void DrawThroughMatrix(Gdiplus::Graphics* pGraphics, ResourceImage* pImage, const Gdiplus::RectF& rect,
                       const Gdiplus::ColorMatrix& matrix) {
  Gdiplus::ImageAttributes attributes;
  attributes.SetColorMatrix(&matrix, Gdiplus::ColorMatrixFlagsDefault, Gdiplus::ColorAdjustTypeDefault);
  pGraphics->DrawImage(pImage, rect, 0.0f, 0.0f, static_cast<Gdiplus::REAL>(pImage->GetWidth()),
                       static_cast<Gdiplus::REAL>(pImage->GetHeight()), Gdiplus::UnitPixel, &attributes);
}
}  // namespace

BEGIN_MESSAGE_MAP(CSkinButton, CSkinCtrl)
ON_WM_MOUSEMOVE()
ON_WM_MOUSEHOVER()
ON_WM_MOUSELEAVE()
ON_WM_LBUTTONDOWN()
ON_WM_LBUTTONDBLCLK()
ON_WM_LBUTTONUP()
ON_WM_CAPTURECHANGED()
ON_WM_SETFOCUS()
ON_WM_KILLFOCUS()
ON_WM_KEYDOWN()
ON_WM_KEYUP()
ON_MESSAGE(WM_UPDATEUISTATE, &CSkinButton::OnUpdateUiState)
END_MESSAGE_MAP()

CSkinButton::CSkinButton()
    : m_format(0, LANG_NEUTRAL),
      m_brNormalText(Gdiplus::Color(kBlack)),
      m_brHoverText(Gdiplus::Color(kBlack)),
      m_brPressedText(Gdiplus::Color(kBlack)) {
  m_format.SetAlignment(Gdiplus::StringAlignmentCenter);
  m_format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  m_pFont = CreateSkinFont(L"Arial", 12.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
}

CSkinButton::~CSkinButton() {
  ReleaseResources();
}

void CSkinButton::PreSubclassWindow() {
  CSkinCtrl::PreSubclassWindow();
}

void CSkinButton::RequestRedraw() {
  if (!m_pImgNormal) return;
  if (m_bDisabled)
    m_nState |= SKIN_STATE_DISABLED;
  else
    m_nState &= ~SKIN_STATE_DISABLED;
  NotifyHost();
}

void CSkinButton::Draw(Gdiplus::Graphics* pGraphics) {
  const Gdiplus::RectF rect = GetDrawRect();
  const bool bDisabled = (m_nState & SKIN_STATE_DISABLED) != 0;
  const bool bHover = (m_nState & SKIN_STATE_HOVER) != 0;
  const bool bPressed = (m_nState & SKIN_STATE_PRESSED) != 0;
  // The keyboard's focus has a look of its own (the ring below), so that
  // hover never passes for it; a press with the Space bar shows the pressed
  // art as a click does.
  const bool bFocus = !bDisabled && IsFocusShown();

  if (bDisabled) {
    if (m_pImgDisabled)
      DrawArt(pGraphics, m_pImgDisabled, rect);
    else if (m_pImgNormal)
      DrawThroughMatrix(pGraphics, m_pImgNormal, rect, kGrayscaleMatrix);
  } else if ((bHover || bFocus) && bPressed) {
    if (m_pImgPressed)
      DrawArt(pGraphics, m_pImgPressed, rect);
    else if (m_pImgNormal)
      pGraphics->DrawImage(m_pImgNormal, Gdiplus::RectF(rect.X + 1, rect.Y + 1, rect.Width, rect.Height));
  } else if (bHover) {
    if (m_pImgHover)
      DrawArt(pGraphics, m_pImgHover, rect);
    else if (m_pImgNormal)
      DrawThroughMatrix(pGraphics, m_pImgNormal, rect, kHighlightMatrix);
  } else if (m_pImgNormal) {
    DrawArt(pGraphics, m_pImgNormal, rect);
  }

  const Gdiplus::SolidBrush* pBrush = &m_brNormalText;
  if (bPressed)
    pBrush = &m_brPressedText;
  else if (bHover)
    pBrush = &m_brHoverText;
  if (bFocus && m_pImgNormal) {
    Gdiplus::Color colour;
    pBrush->GetColor(&colour);
    DrawFocusRing(pGraphics, rect, colour);
  }

  // A picture button (BS_BITMAP or BS_ICON) is all art; its text only names it.
  if (GetStyle() & (BS_BITMAP | BS_ICON)) return;
  const std::wstring caption = GetCaption();
  if (caption.empty() || !m_pFont) return;
  Gdiplus::RectF layout = rect;
  if (bPressed) {
    layout.X += 1;
    layout.Y += 1;
  }
  pGraphics->DrawString(caption.c_str(), static_cast<INT>(caption.size()), m_pFont, layout, &m_format,
                        pBrush);
}

void CSkinButton::DeleteImages() {
  for (ResourceImage** ppImage : {&m_pImgNormal, &m_pImgDisabled, &m_pImgHover, &m_pImgPressed}) {
    delete *ppImage;
    *ppImage = nullptr;
  }
}

void CSkinButton::SetImages(UINT nNormal, UINT nDisabled, UINT nHover, UINT nPressed, LPCWSTR pszType,
                            HINSTANCE hInst, double dScale) {
  DeleteImages();
  m_pImgNormal = LoadResourceImage(nNormal, pszType, hInst, dScale);
  if (nDisabled) m_pImgDisabled = LoadResourceImage(nDisabled, pszType, hInst, dScale);
  if (nHover) m_pImgHover = LoadResourceImage(nHover, pszType, hInst, dScale);
  if (nPressed) m_pImgPressed = LoadResourceImage(nPressed, pszType, hInst, dScale);
}

void CSkinButton::SetTextFont(LPCWSTR pszFace, float fSize, int nStyle, int nUnit) {
  delete m_pFont;
  m_pFont = CreateSkinFont(pszFace, fSize, nStyle, nUnit);
}

void CSkinButton::SetTextAlign(int nAlign, int nLineAlign) {
  m_format.SetAlignment(static_cast<Gdiplus::StringAlignment>(nAlign));
  m_format.SetLineAlignment(static_cast<Gdiplus::StringAlignment>(nLineAlign));
}

void CSkinButton::SetTextColor(Gdiplus::ARGB argb) {
  m_brNormalText.SetColor(Gdiplus::Color(argb));
  m_brHoverText.SetColor(Gdiplus::Color(argb));
  m_brPressedText.SetColor(Gdiplus::Color(argb));
}

void CSkinButton::SetHoverTextColor(Gdiplus::ARGB argb) {
  m_brHoverText.SetColor(Gdiplus::Color(argb));
}

void CSkinButton::SetPressedTextColor(Gdiplus::ARGB argb) {
  m_brPressedText.SetColor(Gdiplus::Color(argb));
}

void CSkinButton::ReleaseResources() {
  delete m_pFont;
  m_pFont = nullptr;
  DeleteImages();
}

void CSkinButton::OnMouseMove(UINT, POINT) {
  if (!m_bTracking) {
    TRACKMOUSEEVENT tme{};
    tme.cbSize = sizeof(tme);
    tme.dwFlags = TME_HOVER | TME_LEAVE;
    tme.hwndTrack = m_hWnd;
    tme.dwHoverTime = 1;
    // User32's own, so that comctl32 (not a KnownDLL) stays out of the process.
    m_bTracking = ::TrackMouseEvent(&tme);
  }
  Default();
}

void CSkinButton::OnMouseHover(UINT, POINT) {
  m_nState |= SKIN_STATE_HOVER;
  RequestRedraw();
}

void CSkinButton::OnMouseLeave() {
  m_bTracking = FALSE;
  m_nState &= ~SKIN_STATE_HOVER;
  RequestRedraw();
}

void CSkinButton::OnLButtonDown(UINT, POINT) {
  m_nState |= SKIN_STATE_PRESSED;
  RequestRedraw();
  Default();
}

// The second click of a double-click arrives as its own message; the button
// takes it as a press, and so does its look.
void CSkinButton::OnLButtonDblClk(UINT nFlags, POINT point) {
  OnLButtonDown(nFlags, point);
}

void CSkinButton::OnLButtonUp(UINT, POINT) {
  m_nState &= ~(SKIN_STATE_HOVER | SKIN_STATE_PRESSED);
  RequestRedraw();
  Default();
}

// A press ends when the button loses the mouse (Alt+Tab, a system dialog) just
// as when it is released: the button sends no click then, so it must not look
// pressed either.
void CSkinButton::OnCaptureChanged(CWnd*) {
  Default();
  ChangeState(0, SKIN_STATE_PRESSED);
}

void CSkinButton::OnSetFocus(CWnd*) {
  Default();
  ChangeState(SKIN_STATE_FOCUS, 0);
}

void CSkinButton::OnKillFocus(CWnd*) {
  Default();
  ChangeState(0, SKIN_STATE_FOCUS);
}

// Space presses the focused button as it does the platform's own: down shows
// the press, up releases it and (in the default processing) clicks.
void CSkinButton::OnKeyDown(UINT nChar, UINT, UINT) {
  if (nChar == VK_SPACE) ChangeState(SKIN_STATE_PRESSED, 0);
  Default();
}

void CSkinButton::OnKeyUp(UINT nChar, UINT, UINT) {
  if (nChar == VK_SPACE) ChangeState(0, SKIN_STATE_PRESSED);
  Default();
}

// Keyboard cues shown or hidden: the focus look follows.
LRESULT CSkinButton::OnUpdateUiState(WPARAM, LPARAM) {
  const LRESULT lResult = Default();
  if (m_nState & SKIN_STATE_FOCUS) RequestRedraw();
  return lResult;
}

bool CSkinButton::IsFocusShown() const {
  if (!(m_nState & SKIN_STATE_FOCUS) || !m_hWnd) return false;
  return (::SendMessageW(m_hWnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0;
}

void CSkinButton::ChangeState(UINT nSet, UINT nClear) {
  const UINT nState = (m_nState | nSet) & ~nClear;
  if (nState == m_nState) return;
  m_nState = nState;
  RequestRedraw();
}
