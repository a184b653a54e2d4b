// Skinned controls: template controls whose look is drawn from art and text
// onto the layered window surface (CLayeredDialog) at every composition. The
// standard control keeps its behaviour (a button still sends BN_CLICKED); what
// it paints itself is never seen.
#pragma once

#include <windows.h>
#include <gdiplus.h>

#include <string>

#include "framework/wnd.h"
#include "ui/resource_image.h"

class ISkinHost;

class CSkinCtrl : public CWnd {
 public:
  CSkinCtrl() = default;

  // Draws the control onto the surface, in the dialog's client coordinates.
  virtual void Draw(Gdiplus::Graphics* pGraphics) = 0;
  // Asks the host to recompose.
  virtual void RequestRedraw();

  // Shows or hides the control; tells the host when the visibility changed.
  // Returns what the platform's ShowWindow returned.
  BOOL ShowWindow(int nCmdShow);
  // Calls the host's Redraw, when there is a host.
  void NotifyHost();

  ISkinHost* m_pHost = nullptr;  // set by CLayeredDialog::AddChild; not owned
  BOOL m_bDisabled = FALSE;      // mirror of WS_DISABLED
  BOOL m_bVisible = TRUE;        // mirror of WS_VISIBLE; only visible controls are drawn

  // A font of `pszFace`, or of the generic sans-serif family when that face
  // is not installed or cannot make the font. Never null; a font without a
  // family (no sans-serif either) draws nothing.
  static Gdiplus::Font* CreateSkinFont(LPCWSTR pszFace, float fSize, int nStyle, int nUnit);

 protected:
  void PreSubclassWindow() override;

  // The control's rectangle in its parent's client coordinates, read anew.
  Gdiplus::RectF GetDrawRect() const;
  // Draws art stretched over `rect`. Art of exactly the rectangle's size at
  // whole pixels is put down pixel for pixel, without resampling; on a
  // surface whose compositing quality is HighSpeed the host blends it onto
  // the surface's rows, or else GDI does.
  void DrawArt(Gdiplus::Graphics* pGraphics, ResourceImage* pImage, const Gdiplus::RectF& rect);
  std::wstring GetCaption() const;
  static void DrawNearest(Gdiplus::Graphics* pGraphics, ResourceImage* pImage, const Gdiplus::RectF& rect);

  void OnEnable(BOOL bEnable);
  void OnMove(int x, int y);
  void OnSize(UINT nType, int cx, int cy);
  LRESULT OnSetText(WPARAM wParam, LPARAM lParam);

  DECLARE_MESSAGE_MAP()
};
