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
  pGraphics->DrawString(caption.c_str(), static_cast<INT>(caption.size()), m_pFont, rect, &m_format,
                        &m_brText);
}

void CSkinLabel::SetImage(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale) {
  delete m_pImage;
  m_pImage = LoadResourceImage(nId, pszType, hInst, dScale);
}

void CSkinLabel::SetTextFont(LPCWSTR pszFace, float fSize, int nStyle, int nUnit) {
  delete m_pFont;
  m_pFont = CreateSkinFont(pszFace, fSize, nStyle, nUnit);
}

void CSkinLabel::SetTextAlign(int nAlign, int nLineAlign) {
  m_format.SetAlignment(static_cast<Gdiplus::StringAlignment>(nAlign));
  m_format.SetLineAlignment(static_cast<Gdiplus::StringAlignment>(nLineAlign));
}

void CSkinLabel::SetTextColor(Gdiplus::ARGB argb) {
  m_brText.SetColor(Gdiplus::Color(argb));
}

void CSkinLabel::ReleaseResources() {
  delete m_pFont;
  m_pFont = nullptr;
  delete m_pImage;
  m_pImage = nullptr;
}
