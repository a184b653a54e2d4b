// CLayeredDialog: a dialog whose whole appearance is composed off-screen from
// its background art and its registered skinned controls, and handed to the
// window manager with per-pixel alpha (UpdateLayeredWindow). It is captionless,
// takes the size of its background art, sits centred in the work area and is
// dragged by pressing anywhere on its own surface.
#pragma once

#include <cstddef>
#include <vector>

#include "framework/dialog.h"
#include "ui/resource_image.h"
#include "ui/skin_ctrl.h"

// How a skinned control asks its surface to recompose.
class ISkinHost {
 public:
  virtual ~ISkinHost() = default;
  virtual void Redraw(CSkinCtrl* pCtrl) = 0;
  // While the surface is being painted: blends art 1:1 straight onto it with
  // its top-left corner at (x, y), and returns true. Otherwise false.
  virtual bool PutArt(ResourceImage*, int, int) { return false; }
};

// Top-left corner of a W x H window centred in the work area; the halving
// truncates toward zero, also when the window is larger than the area.
POINT CenterInWorkArea(const RECT& rcWork, int nWidth, int nHeight);

// The registry's capacity after appending to a full one of `nSize` entries:
// exactly one slot at first, then a step of size / 8 clamped to 4..1024.
size_t NextChildCapacity(size_t nSize, size_t nCapacity);

class CLayeredDialog : public CDialog, public ISkinHost {
 public:
  CLayeredDialog(UINT nIDTemplate, CWnd* pParentWnd);
  ~CLayeredDialog() override;

  // Replaces the background, fits the window to it, centres it in the work
  // area and composes. With no art loaded the window is left alone.
  void SetBackground(UINT nId, LPCWSTR pszType, HINSTANCE hInst, double dScale);
  // Sizes the window to its background, centres it in the current work area
  // and composes. Without art the window is left alone.
  void FitToWorkArea();
  // Registers a control for composition and makes this dialog its host. A
  // control already registered keeps its place: each is drawn once, in the
  // order of its first registration.
  void AddChild(CSkinCtrl* pCtrl);
  // The work area of the monitor the window is on.
  RECT GetWorkArea() const;
  // Recomposes the whole window now.
  void Compose();
  // Empties the registry and deletes the background.
  void ReleaseResources();

  BOOL OnInitDialog() override;
  void Redraw(CSkinCtrl* pCtrl) override;
  bool PutArt(ResourceImage* pImage, int x, int y) override;

  // Positions, skins and registers the controls, and sets the background.
  virtual void LayoutControls() = 0;

  // Draws the background and then every visible registered control, in
  // registration order, onto an empty 32-bpp surface selected into `hdcMem`.
  // With `pBits`, the surface's top-down rows of the background's size, the
  // background is copied straight into them and 1:1 art blended onto them
  // (PutArt); without, both are drawn.
  void PaintSurface(HDC hdcMem, void* pBits);
  // The background has pixels, so the window can be seen.
  bool HasSurface() const;

  ResourceImage* GetBackground() const { return m_pBackground; }
  size_t GetChildCount() const { return m_children.size(); }
  size_t GetChildCapacity() const { return m_children.capacity(); }
  CSkinCtrl* GetChild(size_t nIndex) const {
    return nIndex < m_children.size() ? m_children[nIndex] : nullptr;
  }
  const BLENDFUNCTION& GetBlend() const { return m_blend; }

 protected:
  int OnCreate(LPCREATESTRUCTW lpCreateStruct);
  BOOL OnEraseBkgnd(HDC hdc);
  void OnLButtonDown(UINT nFlags, POINT point);

  ResourceImage* m_pBackground = nullptr;  // owned; its size is the window's size
  BLENDFUNCTION m_blend{};
  void* m_pPaintBits = nullptr;        // the top-down rows of the surface PaintSurface is drawing on
  std::vector<CSkinCtrl*> m_children;  // not owned; index order is drawing order

  DECLARE_MESSAGE_MAP()
};
