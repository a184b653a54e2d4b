// A small layered dialog with the test art, for the surface and control tests.
#pragma once

#include <functional>

#include "ui/layered_dialog.h"
#include "ui/skin_button.h"
#include "ui/skin_label.h"
#include "window_test_ids.h"

class CSurfaceDlg : public CLayeredDialog {
 public:
  CSurfaceDlg() : CLayeredDialog(IDD_TEST_SURFACE, nullptr) {}
  ~CSurfaceDlg() override {
    if (m_hWnd) DestroyWindow();
  }

  // Runs as the layout; by default only sets the test background.
  std::function<void(CSurfaceDlg&)> m_layout = [](CSurfaceDlg& dlg) {
    dlg.SetBackground(IDB_TEST_BACKGROUND, L"IMG", nullptr, 1.0);
  };
  int m_nRedraws = 0;
  int m_nEnterSizeMove = 0;
  int m_nButton1Clicks = 0;

  CSkinButton m_btn1;
  CSkinButton m_btn2;
  CSkinButton m_btnDisabled;
  CSkinLabel m_lbl1;
  CSkinLabel m_lbl2;
  CSkinLabel m_lblHidden;

  void Redraw(CSkinCtrl* pCtrl) override {
    ++m_nRedraws;
    CLayeredDialog::Redraw(pCtrl);
  }

  // Places a control in client coordinates without telling anyone.
  static void Place(CWnd& wnd, int x, int y, int cx, int cy) {
    ::SetWindowPos(wnd.m_hWnd, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
  }

 protected:
  void LayoutControls() override { m_layout(*this); }
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Control(pDX, IDC_TEST_BUTTON1, m_btn1);
    DDX_Control(pDX, IDC_TEST_BUTTON2, m_btn2);
    DDX_Control(pDX, IDC_TEST_DISABLED, m_btnDisabled);
    DDX_Control(pDX, IDC_TEST_LABEL1, m_lbl1);
    DDX_Control(pDX, IDC_TEST_LABEL2, m_lbl2);
    DDX_Control(pDX, IDC_TEST_HIDDEN, m_lblHidden);
  }
  LRESULT OnEnterSizeMove(WPARAM, LPARAM) {
    ++m_nEnterSizeMove;
    return Default();
  }
  void OnButton1Clicked() { ++m_nButton1Clicks; }

  DECLARE_MESSAGE_MAP()
};
