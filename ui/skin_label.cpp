#include "ui/skin_label.h"

CSkinLabel::CSkinLabel() : m_format(0, LANG_NEUTRAL), m_brText(Gdiplus::Color(0xFF000000)) {
  m_format.SetAlignment(Gdiplus::StringAlignmentCenter);
  m_format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
  m_pFont = CreateSkinFont(L"Arial", 12.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
}

CSkinLabel::~CSkinLabel() {
  ReleaseResources();
}

void CSkinLabel::PreSubclassWindow() {
  CSkinCtrl::PreSubclassWindow();
}

void CSkinLabel::Draw(Gdiplus::Graphics* pGraphics) {
  const Gdiplus::RectF rect = GetDrawRect();
  if (m_pImage) DrawArt(pGraphics, m_pImage, rect);
  const std::wstring caption = GetCaption();
  if (caption.empty() || !m_pFont) return;
  // A surface that asks for speed gets the caption as drawn before; text over
  // a transparent picture, blended on, gives the same pixels.
  if (pGraphics->GetCompositingQuality() == Gdiplus::CompositingQualityHighSpeed) {
    if (ResourceImage* pArt = CaptionArt(caption, rect, pGraphics->GetTextRenderingHint())) {
      DrawArt(pGraphics, pArt, rect);
      return;
    }
  }
  pGraphics->DrawString(caption.c_str(), static_cast<INT>(caption.size()), m_pFont, rect, &m_format,
                        &m_brText);
}

ResourceImage* CSkinLabel::CaptionArt(const std::wstring& caption, const Gdiplus::RectF& rect,
                                      Gdiplus::TextRenderingHint hint) {
  const auto nWidth = static_cast<UINT>(rect.Width), nHeight = static_cast<UINT>(rect.Height);
  if (m_pCaptionArt && m_strCaptionArt == caption && m_captionHint == hint &&
      m_pCaptionArt->GetWidth() == nWidth && m_pCaptionArt->GetHeight() == nHeight)
    return m_pCaptionArt;
  DropCaptionArt();
  m_pCaptionArt = NewSurfaceArt(nWidth, nHeight);
  if (!m_pCaptionArt) return nullptr;
  Gdiplus::Graphics graphics(m_pCaptionArt);
  graphics.SetTextRenderingHint(hint);
  graphics.DrawString(caption.c_str(), static_cast<INT>(caption.size()), m_pFont,
                      Gdiplus::RectF(0, 0, rect.Width, rect.Height), &m_format, &m_brText);
  m_strCaptionArt = caption;
  m_captionHint = hint;
  return m_pCaptionArt;
}

void CSkinLabel::DropCaptionArt() {
  delete m_pCaptionArt;
  m_pCaptionArt = nullptr;
  m_strCaptionArt.clear();
}

void CSkinLabel::SetImage(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale) {
  delete m_pImage;
  m_pImage = LoadResourceImage(nId, pszType, hInst, dScale);
}

void CSkinLabel::SetTextFont(LPCWSTR pszFace, float fSize, int nStyle, int nUnit) {
  DropCaptionArt();
  delete m_pFont;
  m_pFont = CreateSkinFont(pszFace, fSize, nStyle, nUnit);
}

void CSkinLabel::SetTextAlign(int nAlign, int nLineAlign) {
  DropCaptionArt();
  m_format.SetAlignment(static_cast<Gdiplus::StringAlignment>(nAlign));
  m_format.SetLineAlignment(static_cast<Gdiplus::StringAlignment>(nLineAlign));
}

void CSkinLabel::SetTextColor(Gdiplus::ARGB argb) {
  DropCaptionArt();
  m_brText.SetColor(Gdiplus::Color(argb));
}

void CSkinLabel::ReleaseResources() {
  DropCaptionArt();
  delete m_pFont;
  m_pFont = nullptr;
  delete m_pImage;
  m_pImage = nullptr;
}
