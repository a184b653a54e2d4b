#include "framework/wnd.h"

#include "framework/dialog.h"

namespace {
// The window property that points from an HWND to its CWnd.
constexpr wchar_t kWndProp[] = L"TbtFramework.CWnd";
}  // namespace

CWnd::~CWnd() {
  // The derived parts are gone: no handler may run for this object any more.
  if (m_hWnd) UnsubclassWindow();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
  return hWnd ? static_cast<CWnd*>(::GetPropW(hWnd, kWndProp)) : nullptr;
}

void CWnd::Attach(HWND hWnd) {
  m_hWnd = hWnd;
  ::SetPropW(hWnd, kWndProp, this);
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
  if (m_hWnd || !::IsWindow(hWnd) || FromHandlePermanent(hWnd)) return FALSE;
  Attach(hWnd);
  PreSubclassWindow();
  m_pfnSuper = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::WndProc)));
  return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
  if (!pParent || !pParent->m_hWnd) return FALSE;
  HWND hItem = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
  return hItem ? SubclassWindow(hItem) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
  HWND hWnd = m_hWnd;
  if (!hWnd) return nullptr;
  if (::IsWindow(hWnd)) {
    // Only put the old procedure back if nobody subclassed on top of us.
    if (m_pfnSuper && reinterpret_cast<WNDPROC>(::GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == &CWnd::WndProc) {
      ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    }
    ::RemovePropW(hWnd, kWndProp);
  }
  m_pfnSuper = nullptr;
  m_hWnd = nullptr;
  return hWnd;
}

LRESULT CALLBACK CWnd::WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  CWnd* pWnd = FromHandlePermanent(hWnd);
  if (!pWnd) return ::DefWindowProcW(hWnd, message, wParam, lParam);

  // Nested messages (a handler sending to its own window) keep their own copy.
  const MSG saved = pWnd->m_msgCur;
  pWnd->m_msgCur = MSG{hWnd, message, wParam, lParam, 0, {0, 0}};
  LRESULT lResult = pWnd->WindowProc(message, wParam, lParam);
  pWnd->m_msgCur = saved;

  if (message == WM_NCDESTROY) {
    // The window is gone; the object outlives it, unbound.
    ::RemovePropW(hWnd, kWndProp);
    pWnd->m_pfnSuper = nullptr;
    pWnd->m_hWnd = nullptr;
  }
  return lResult;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT lResult = 0;
  if (!OnWndMsg(message, wParam, lParam, &lResult)) lResult = DefWindowProc(message, wParam, lParam);
  return lResult;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
  return DefWindowProc(m_msgCur.message, m_msgCur.wParam, m_msgCur.lParam);
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
  const UINT nID = LOWORD(wParam);
  const UINT nCode = HIWORD(wParam);
  for (const MessageMap* pMap = GetMessageMap(); pMap;
       pMap = pMap->pfnGetBaseMap ? pMap->pfnGetBaseMap() : nullptr) {
    for (const MessageMapEntry* pEntry = pMap->lpEntries; pEntry->nMessage != 0; ++pEntry) {
      if (pEntry->nMessage != message) continue;
      if (message == WM_COMMAND && (pEntry->nID != nID || pEntry->nCode != nCode)) continue;
      *pResult = pEntry->pfn(this, wParam, lParam);
      return TRUE;
    }
  }
  return FALSE;
}

const MessageMap* CWnd::GetThisMessageMap() {
  static const MessageMapEntry s_entries[] = {{0, 0, 0, nullptr}};
  static const MessageMap s_map = {nullptr, s_entries};
  return &s_map;
}

const MessageMap* CWnd::GetMessageMap() const {
  return GetThisMessageMap();
}

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
  CDataExchange dx(this, bSaveAndValidate);
  DoDataExchange(&dx);
  return dx.m_bFailed ? FALSE : TRUE;
}

BOOL CWnd::ShowWindow(int nCmdShow) {
  return ::ShowWindow(m_hWnd, nCmdShow);
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
  return ::EnableWindow(m_hWnd, bEnable);
}

void CWnd::SetWindowTextW(LPCWSTR pszText) {
  ::SetWindowTextW(m_hWnd, pszText);
}

int CWnd::GetWindowTextW(LPWSTR pszBuffer, int nMaxCount) const {
  return ::GetWindowTextW(m_hWnd, pszBuffer, nMaxCount);
}

BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
  return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : nullptr, x, y, cx, cy, nFlags);
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
  ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}

namespace {
BOOL ModifyLong(HWND hWnd, int nIndex, DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
  const DWORD dwOld = static_cast<DWORD>(::GetWindowLongW(hWnd, nIndex));
  const DWORD dwNew = (dwOld & ~dwRemove) | dwAdd;
  if (dwOld == dwNew) return FALSE;
  ::SetWindowLongW(hWnd, nIndex, static_cast<LONG>(dwNew));
  if (nFlags != 0) {
    ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0,
                   SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
  }
  return TRUE;
}
}  // namespace

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
  return ModifyLong(m_hWnd, GWL_STYLE, dwRemove, dwAdd, nFlags);
}

BOOL CWnd::ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
  return ModifyLong(m_hWnd, GWL_EXSTYLE, dwRemove, dwAdd, nFlags);
}

BOOL CWnd::DestroyWindow() {
  return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}
