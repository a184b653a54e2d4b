// A static control drawn as a picture stretched over its rectangle, a caption,
// or both.
#pragma once

#include <string>

#include "ui/resource_image.h"
#include "ui/skin_ctrl.h"

class CSkinLabel : public CSkinCtrl {
 public:
  CSkinLabel();
  ~CSkinLabel() override;

  void Draw(Gdiplus::Graphics* pGraphics) override;

  // Replaces the art; does not recompose (the caller composes when it wants).
  void SetImage(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale);
  void SetTextFont(LPCWSTR pszFace, float fSize, int nStyle, int nUnit);
  void SetTextAlign(int nAlign, int nLineAlign);
  void SetTextColor(Gdiplus::ARGB argb);
  // Frees the font and the art.
  void ReleaseResources();

  ResourceImage* m_pImage = nullptr;
  // The caption as drawn last, held like art: glyphs are the dearest part of
  // a composition, and the busy animation recomposes ten times a second.
  // Dropped whenever the text, its size, font, alignment or colour changes;
  // drawn anew for another text rendering.
  ResourceImage* m_pCaptionArt = nullptr;
  std::wstring m_strCaptionArt;
  Gdiplus::TextRenderingHint m_captionHint = Gdiplus::TextRenderingHintSystemDefault;
  Gdiplus::StringFormat m_format;
  Gdiplus::Font* m_pFont = nullptr;
  Gdiplus::SolidBrush m_brText;

 protected:
  void PreSubclassWindow() override;
  void DropCaptionArt();
  // The caption over a transparent picture of the control's size; null when
  // it cannot be made.
  ResourceImage* CaptionArt(const std::wstring& caption, const Gdiplus::RectF& rect,
                            Gdiplus::TextRenderingHint hint);
};
