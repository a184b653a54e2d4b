#include "update/session_guard.h"

#include "app/run_log.h"

namespace {

constexpr wchar_t kDefaultReason[] = L"A firmware update is being written. Wait until it has finished.";
constexpr wchar_t kWindowClass[] = L"TbtFwUpdateSessionGuard";

// Touched on the guard's thread only.
HWND g_hWnd = nullptr;
HANDLE g_hWorker = nullptr;
bool g_bActive = false;

LRESULT CALLBACK GuardWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION: return SessionGuardOnQueryEndSession();
    case WM_ENDSESSION: SessionGuardOnEndSession(static_cast<BOOL>(wParam)); return 0;
    default: return DefWindowProcW(hWnd, message, wParam, lParam);
  }
}

}  // namespace

void SessionGuardBegin(HWND hWnd, HANDLE hWorker, const wchar_t* pszReason) {
  g_hWnd = hWnd;
  g_hWorker = hWorker;
  g_bActive = true;
  // Continuous: holds for this thread until it is cleared below.
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  if (hWnd) ShutdownBlockReasonCreate(hWnd, pszReason && pszReason[0] ? pszReason : kDefaultReason);
}

void SessionGuardEnd() {
  if (!g_bActive) return;
  if (g_hWnd) ShutdownBlockReasonDestroy(g_hWnd);
  SetThreadExecutionState(ES_CONTINUOUS);
  g_bActive = false;
  g_hWnd = nullptr;
  g_hWorker = nullptr;
}

bool SessionGuardActive() {
  return g_bActive;
}

LRESULT SessionGuardOnQueryEndSession() {
  if (!g_bActive) return TRUE;
  RunLog("log-off or shutdown requested during the update: refused");
  return FALSE;
}

void SessionGuardOnEndSession(BOOL bEnding) {
  if (!bEnding || !g_bActive || !g_hWorker) return;
  RunLog("the session ends anyway: waiting up to %lu ms for the update to switch the device off",
         static_cast<unsigned long>(kSessionEndWaitMs));
  const DWORD dwWait = WaitForSingleObject(g_hWorker, kSessionEndWaitMs);
  RunLog("the session ends: %s",
         dwWait == WAIT_OBJECT_0 ? "the update has ended" : "the update has not ended");
}

HWND SessionGuardCreateWindow() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.lpfnWndProc = GuardWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return nullptr;
  // Top-level and never shown: WS_EX_TOOLWINDOW keeps it out of the task list.
  return CreateWindowExW(WS_EX_TOOLWINDOW, kWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                         wc.hInstance, nullptr);
}

void SessionGuardWaitDispatching(HANDLE hThread) {
  for (;;) {
    const DWORD dwWait = MsgWaitForMultipleObjects(1, &hThread, FALSE, INFINITE, QS_ALLINPUT);
    if (dwWait == WAIT_OBJECT_0) return;
    if (dwWait != WAIT_OBJECT_0 + 1) {
      // The worker must never be left behind: wait without messages instead.
      WaitForSingleObject(hThread, INFINITE);
      return;
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
}

bool SessionIsInteractive() {
  USEROBJECTFLAGS flags{};
  HWINSTA hStation = GetProcessWindowStation();
  if (!hStation || !GetUserObjectInformationW(hStation, UOI_FLAGS, &flags, sizeof(flags), nullptr))
    return false;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}
