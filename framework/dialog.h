// CDialog: a dialog built from a template resource, modal or modeless.
//
// The dialog manager creates the window and only then calls the dialog
// procedure (WM_SETFONT, then WM_INITDIALOG); it never passes WM_CREATE to a
// dialog procedure. So on WM_INITDIALOG the object subclasses its own window
// (everything afterwards reaches the message map first, and the dialog
// manager's DefDlgProc is the default processing), then runs the message map's
// WM_CREATE handler with a creation record read back from the window, and
// then OnInitDialog. A WM_CREATE handler that returns -1 ends the dialog with
// -1, as a failed creation would.
//
// WM_CLOSE becomes the Cancel command, as the dialog manager documents it:
// posted as a BN_CLICKED of IDCANCEL, or only a warning beep while the
// dialog's IDCANCEL control is disabled. (Not every dialog manager checks the
// control, so the framework does.)
#pragma once

#include "framework/wnd.h"

// Binds template controls to C++ objects (and, in MFC, moves data); here only
// controls are exchanged.
class CDataExchange {
 public:
  CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
      : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  BOOL m_bFailed = FALSE;  // a control could not be bound
};

// Subclasses the template control `nIDC` into `rControl` on the first exchange.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
 public:
  explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
  ~CDialog() override;

  // Runs the dialog modally; returns the EndDialog result, or -1 when the
  // dialog could not be created.
  virtual INT_PTR DoModal();
  // Creates the dialog modeless: it lives until DestroyWindow (or the
  // object) ends it. EndDialog only hides a modeless dialog.
  BOOL Create(CWnd* pParentWnd = nullptr);
  void EndDialog(int nResult);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();

  UINT GetTemplateId() const { return m_nIDTemplate; }

 protected:
  static INT_PTR CALLBACK DlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
  // WM_INITDIALOG: bind, run the creation handler, then OnInitDialog.
  INT_PTR HandleInitDialog(HWND hDlg);
  void OnClose();

  UINT m_nIDTemplate;
  CWnd* m_pParentWnd;
  BOOL m_bCreateFailed = FALSE;  // the WM_CREATE handler returned -1

  DECLARE_MESSAGE_MAP()
};
