// A push button drawn from up to four state images and a caption.
#pragma once

#include "ui/resource_image.h"
#include "ui/skin_ctrl.h"

enum : UINT {
  SKIN_STATE_DISABLED = 1,
  SKIN_STATE_HOVER = 2,
  SKIN_STATE_PRESSED = 4,
  SKIN_STATE_FOCUS = 8,  // has the keyboard focus; a ring inside the edge while focus is shown
};

// Disabled without disabled art: every colour channel becomes the pixel's
// luminance (0.3 r + 0.59 g + 0.11 b); alpha is kept.
extern const Gdiplus::ColorMatrix kGrayscaleMatrix;
// Hovered without hover art: each colour channel x becomes 1.05 x + 0.05.
extern const Gdiplus::ColorMatrix kHighlightMatrix;

class CSkinButton : public CSkinCtrl {
 public:
  CSkinButton();
  ~CSkinButton() override;

  void Draw(Gdiplus::Graphics* pGraphics) override;
  // Does nothing without normal art; otherwise mirrors the disabled state
  // into m_nState and asks the host to recompose.
  void RequestRedraw() override;

  // Replaces the four images; an id of 0 leaves that state without art. The
  // normal art is always loaded. None of the setters recomposes.
  void SetImages(UINT nNormal, UINT nDisabled, UINT nHover, UINT nPressed, LPCWSTR pszType, HINSTANCE hInst,
                 double dScale);
  void SetTextFont(LPCWSTR pszFace, float fSize, int nStyle, int nUnit);
  void SetTextAlign(int nAlign, int nLineAlign);
  // All three caption colours.
  void SetTextColor(Gdiplus::ARGB argb);
  void SetHoverTextColor(Gdiplus::ARGB argb);
  void SetPressedTextColor(Gdiplus::ARGB argb);
  // Frees the font and the art.
  void ReleaseResources();

  ResourceImage* m_pImgNormal = nullptr;
  ResourceImage* m_pImgDisabled = nullptr;
  ResourceImage* m_pImgHover = nullptr;
  ResourceImage* m_pImgPressed = nullptr;
  BOOL m_bTracking = FALSE;  // hover and leave notifications are armed
  UINT m_nState = 0;         // SKIN_STATE_* bits
  Gdiplus::StringFormat m_format;
  Gdiplus::Font* m_pFont = nullptr;
  Gdiplus::SolidBrush m_brNormalText;
  Gdiplus::SolidBrush m_brHoverText;
  Gdiplus::SolidBrush m_brPressedText;

 protected:
  void PreSubclassWindow() override;
  void DeleteImages();

  void OnMouseMove(UINT nFlags, POINT point);
  void OnMouseHover(UINT nFlags, POINT point);
  void OnMouseLeave();
  void OnLButtonDown(UINT nFlags, POINT point);
  void OnLButtonDblClk(UINT nFlags, POINT point);
  void OnLButtonUp(UINT nFlags, POINT point);
  void OnCaptureChanged(CWnd* pWnd);
  void OnSetFocus(CWnd* pOldWnd);
  void OnKillFocus(CWnd* pNewWnd);
  void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags);
  void OnKeyUp(UINT nChar, UINT nRepCnt, UINT nFlags);
  LRESULT OnUpdateUiState(WPARAM wParam, LPARAM lParam);
  // Focused, and the window shows focus (keyboard cues are not hidden).
  bool IsFocusShown() const;
  // Sets or clears state bits and asks for a recomposition when they changed.
  void ChangeState(UINT nSet, UINT nClear);

  DECLARE_MESSAGE_MAP()
};
