// CWnd: a C++ object bound to one HWND, with MFC-style message maps.
//
// A message map is a static table per class, chained to the base class's
// table. Each entry names a message (or a WM_COMMAND id + notification) and a
// thunk that unpacks wParam/lParam into the handler's typed arguments. The
// first matching entry, searched from the most derived class down, handles the
// message; anything unhandled goes to the window procedure the object replaced.
#pragma once

#include <windows.h>

class CWnd;

// Unpacks the message arguments and calls one typed handler.
using MessageThunk = LRESULT (*)(CWnd* pWnd, WPARAM wParam, LPARAM lParam);

struct MessageMapEntry {
  UINT nMessage;  // 0 ends the table
  UINT nCode;     // WM_COMMAND only: notification code
  UINT nID;       // WM_COMMAND only: control id
  MessageThunk pfn;
};

struct MessageMap {
  const MessageMap* (*pfnGetBaseMap)();  // null for CWnd's own map
  const MessageMapEntry* lpEntries;
};

class CDataExchange;

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd();
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND m_hWnd = nullptr;
  HWND GetSafeHwnd() const { return m_hWnd; }

  // The object bound to a window by SubclassWindow, or null.
  static CWnd* FromHandlePermanent(HWND hWnd);

  // Routes the window's messages through this object's message map.
  BOOL SubclassWindow(HWND hWnd);
  BOOL SubclassDlgItem(UINT nID, CWnd* pParent);
  // Gives the window back its original procedure and forgets it.
  HWND UnsubclassWindow();

  // Message processing.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Default processing of the message currently being handled.
  LRESULT Default();
  const MSG& GetCurrentMessage() const { return m_msgCur; }

  // Dialog data exchange.
  virtual void DoDataExchange(CDataExchange* pDX);
  BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

  // Thin wrappers of the window functions.
  BOOL ShowWindow(int nCmdShow);
  BOOL EnableWindow(BOOL bEnable = TRUE);
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  void SetWindowTextW(LPCWSTR pszText);
  int GetWindowTextW(LPWSTR pszBuffer, int nMaxCount) const;
  int GetWindowTextLengthW() const { return ::GetWindowTextLengthW(m_hWnd); }
  BOOL SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
  void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
  void GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
  void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
  DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }
  // Removes then adds style bits; with nFlags, also tells the window its frame
  // changed. Returns TRUE when the style changed.
  BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
  BOOL ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
  HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
  LRESULT SendMessageW(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessageW(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
  }
  BOOL DestroyWindow();

 protected:
  // Called with m_hWnd set, before the window's procedure is replaced.
  virtual void PreSubclassWindow() {}

  // Searches the map chain; true when an entry handled the message.
  BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

  static LRESULT CALLBACK WndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
  // Binds the object to a window that is already routed to WndProc.
  void Attach(HWND hWnd);

  static const MessageMap* GetThisMessageMap();
  virtual const MessageMap* GetMessageMap() const;

  WNDPROC m_pfnSuper = nullptr;  // the procedure SubclassWindow replaced
  MSG m_msgCur{};                // the message being handled, for Default()
};

// ---- Message map declaration --------------------------------------------

// clang-format off
// Leaves the access at "protected", as MFC's does.
#define DECLARE_MESSAGE_MAP()                   \
 protected:                                     \
  static const MessageMap* GetThisMessageMap(); \
  const MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                       \
  const MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); } \
  const MessageMap* theClass::GetThisMessageMap() {                                  \
    using ThisClass [[maybe_unused]] = theClass;                                     \
    using TheBaseClass = baseClass;                                                  \
    static const MessageMapEntry s_entries[] = {

#define END_MESSAGE_MAP()                                                          \
      {0, 0, 0, nullptr}};                                                         \
    static const MessageMap s_map = {&TheBaseClass::GetThisMessageMap, s_entries}; \
    return &s_map;                                                                 \
  }
// clang-format on

// ---- Entries, one per message, each with its handler's typed signature ----

// The thunk body runs inside the class's own member function, so protected
// handlers are reachable.
#define TBT_MSG_ENTRY(msg, body)                                                                            \
  {(msg), 0, 0, [](CWnd* pWnd, [[maybe_unused]] WPARAM wParam, [[maybe_unused]] LPARAM lParam) -> LRESULT { \
     [[maybe_unused]] ThisClass* pThis = static_cast<ThisClass*>(pWnd);                                     \
     body                                                                                                   \
   }},

#define TBT_POINT_FROM_LPARAM(lParam)                                      \
  POINT {                                                                  \
    static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)) \
  }

// int OnCreate(LPCREATESTRUCTW)
#define ON_WM_CREATE() \
  TBT_MSG_ENTRY(WM_CREATE, return pThis->OnCreate(reinterpret_cast<LPCREATESTRUCTW>(lParam));)
// void OnDestroy()
#define ON_WM_DESTROY() TBT_MSG_ENTRY(WM_DESTROY, pThis->OnDestroy(); return 0;)
// void OnClose()
#define ON_WM_CLOSE() TBT_MSG_ENTRY(WM_CLOSE, pThis->OnClose(); return 0;)
// BOOL OnEraseBkgnd(HDC)
#define ON_WM_ERASEBKGND() \
  TBT_MSG_ENTRY(WM_ERASEBKGND, return pThis->OnEraseBkgnd(reinterpret_cast<HDC>(wParam));)
// void OnEnable(BOOL bEnable)
#define ON_WM_ENABLE() TBT_MSG_ENTRY(WM_ENABLE, pThis->OnEnable(static_cast<BOOL>(wParam)); return 0;)
// void OnMove(int x, int y)
#define ON_WM_MOVE()                                                                                   \
  TBT_MSG_ENTRY(WM_MOVE,                                                                               \
                pThis->OnMove(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))); \
                return 0;)
// void OnSize(UINT nType, int cx, int cy)
#define ON_WM_SIZE() \
  TBT_MSG_ENTRY(WM_SIZE, pThis->OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); return 0;)
// void OnMouseMove(UINT nFlags, POINT point), and likewise for the others
#define ON_WM_MOUSEMOVE()                                                                                   \
  TBT_MSG_ENTRY(WM_MOUSEMOVE, pThis->OnMouseMove(static_cast<UINT>(wParam), TBT_POINT_FROM_LPARAM(lParam)); \
                return 0;)
#define ON_WM_MOUSEHOVER()                                                                     \
  TBT_MSG_ENTRY(WM_MOUSEHOVER,                                                                 \
                pThis->OnMouseHover(static_cast<UINT>(wParam), TBT_POINT_FROM_LPARAM(lParam)); \
                return 0;)
// void OnMouseLeave()
#define ON_WM_MOUSELEAVE() TBT_MSG_ENTRY(WM_MOUSELEAVE, pThis->OnMouseLeave(); return 0;)
#define ON_WM_LBUTTONDOWN()                                                                     \
  TBT_MSG_ENTRY(WM_LBUTTONDOWN,                                                                 \
                pThis->OnLButtonDown(static_cast<UINT>(wParam), TBT_POINT_FROM_LPARAM(lParam)); \
                return 0;)
#define ON_WM_LBUTTONUP()                                                                                   \
  TBT_MSG_ENTRY(WM_LBUTTONUP, pThis->OnLButtonUp(static_cast<UINT>(wParam), TBT_POINT_FROM_LPARAM(lParam)); \
                return 0;)
// void OnLButtonDblClk(UINT nFlags, POINT point)
#define ON_WM_LBUTTONDBLCLK()                                                                     \
  TBT_MSG_ENTRY(WM_LBUTTONDBLCLK,                                                                 \
                pThis->OnLButtonDblClk(static_cast<UINT>(wParam), TBT_POINT_FROM_LPARAM(lParam)); \
                return 0;)
// void OnCaptureChanged(CWnd* pWnd): pWnd is the new capture's object, or null
#define ON_WM_CAPTURECHANGED()                                                                      \
  TBT_MSG_ENTRY(WM_CAPTURECHANGED,                                                                  \
                pThis->OnCaptureChanged(CWnd::FromHandlePermanent(reinterpret_cast<HWND>(lParam))); \
                return 0;)
// void OnSetFocus(CWnd* pOldWnd), void OnKillFocus(CWnd* pNewWnd)
#define ON_WM_SETFOCUS()                                                                                   \
  TBT_MSG_ENTRY(WM_SETFOCUS, pThis->OnSetFocus(CWnd::FromHandlePermanent(reinterpret_cast<HWND>(wParam))); \
                return 0;)
#define ON_WM_KILLFOCUS()                                                                                    \
  TBT_MSG_ENTRY(WM_KILLFOCUS, pThis->OnKillFocus(CWnd::FromHandlePermanent(reinterpret_cast<HWND>(wParam))); \
                return 0;)
// void OnKeyDown(UINT nChar, UINT nRepCnt, UINT nFlags), and OnKeyUp
#define ON_WM_KEYDOWN()                                                                                  \
  TBT_MSG_ENTRY(WM_KEYDOWN, pThis->OnKeyDown(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); \
                return 0;)
#define ON_WM_KEYUP()                                                                                \
  TBT_MSG_ENTRY(WM_KEYUP, pThis->OnKeyUp(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam)); \
                return 0;)
// void OnSettingChange(UINT uFlags, LPCWSTR lpszSection)
#define ON_WM_SETTINGCHANGE()                                                                         \
  TBT_MSG_ENTRY(WM_SETTINGCHANGE,                                                                     \
                pThis->OnSettingChange(static_cast<UINT>(wParam), reinterpret_cast<LPCWSTR>(lParam)); \
                return 0;)
// LRESULT memberFxn(WPARAM, LPARAM), for any message
#define ON_MESSAGE(msg, memberFxn) TBT_MSG_ENTRY(msg, return (pThis->*(memberFxn))(wParam, lParam);)

// WM_COMMAND from control `id` with notification `code`: void memberFxn()
#define ON_CONTROL(code, id, memberFxn)                                                                    \
  {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), [](CWnd* pWnd, WPARAM, LPARAM) -> LRESULT { \
     (static_cast<ThisClass*>(pWnd)->*(memberFxn))();                                                      \
     return 0;                                                                                             \
   }},
#define ON_COMMAND(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(BN_CLICKED, id, memberFxn)
