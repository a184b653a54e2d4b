#include "framework/dialog.h"

#include "framework/win_app.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
  if (rControl.m_hWnd) return;  // already bound by an earlier exchange
  if (!rControl.SubclassDlgItem(static_cast<UINT>(nIDC), pDX->m_pDlgWnd)) pDX->m_bFailed = TRUE;
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() {
  // Only CDialog's own map is left at this point, so no derived handler runs.
  if (m_hWnd) DestroyWindow();
}

BEGIN_MESSAGE_MAP(CDialog, CWnd)
ON_WM_CLOSE()
ON_COMMAND(IDOK, &CDialog::OnOK)
ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

INT_PTR CDialog::DoModal() {
  m_bCreateFailed = FALSE;
  HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  return ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), hParent,
                           &CDialog::DlgProc, reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::Create(CWnd* pParentWnd) {
  if (pParentWnd) m_pParentWnd = pParentWnd;
  HWND hParent = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
  m_bCreateFailed = FALSE;
  HWND hDlg = ::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), hParent,
                                   &CDialog::DlgProc, reinterpret_cast<LPARAM>(this));
  if (hDlg && m_bCreateFailed) {
    ::DestroyWindow(hDlg);
    return FALSE;
  }
  return hDlg && m_hWnd == hDlg;
}

void CDialog::OnClose() {
  HWND hCancel = GetDlgItem(IDCANCEL);
  if (hCancel && !::IsWindowEnabled(hCancel)) {
    ::MessageBeep(0);
    return;
  }
  PostMessageW(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(hCancel));
}

void CDialog::EndDialog(int nResult) {
  ::EndDialog(m_hWnd, nResult);
}

INT_PTR CALLBACK CDialog::DlgProc(HWND hDlg, UINT message, WPARAM, LPARAM lParam) {
  // Every later message reaches the object's window procedure first; here
  // "not handled" lets DefDlgProc do its default processing.
  if (message != WM_INITDIALOG) return FALSE;
  auto* pDlg = reinterpret_cast<CDialog*>(lParam);
  return pDlg ? pDlg->HandleInitDialog(hDlg) : FALSE;
}

INT_PTR CDialog::HandleInitDialog(HWND hDlg) {
  if (!SubclassWindow(hDlg)) {
    m_bCreateFailed = TRUE;
    ::EndDialog(hDlg, -1);
    return FALSE;
  }

  wchar_t szCaption[256] = L"";
  ::GetWindowTextW(hDlg, szCaption, 256);
  RECT rc{};
  ::GetWindowRect(hDlg, &rc);
  CREATESTRUCTW cs{};
  cs.lpCreateParams = this;
  cs.hInstance = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(hDlg, GWLP_HINSTANCE));
  cs.hwndParent = ::GetWindow(hDlg, GW_OWNER);
  cs.cy = rc.bottom - rc.top;
  cs.cx = rc.right - rc.left;
  cs.y = rc.top;
  cs.x = rc.left;
  cs.style = static_cast<LONG>(GetStyle());
  cs.lpszName = szCaption;
  cs.lpszClass = MAKEINTRESOURCEW(32770);  // the dialog class atom
  cs.dwExStyle = GetExStyle();

  // Through the window procedure, so the handler's Default() sees WM_CREATE.
  if (::SendMessageW(hDlg, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
    m_bCreateFailed = TRUE;
    ::EndDialog(hDlg, -1);  // a modeless dialog is destroyed by Create()
    return FALSE;
  }
  return OnInitDialog();
}

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  EndDialog(IDOK);
}

void CDialog::OnCancel() {
  EndDialog(IDCANCEL);
}
