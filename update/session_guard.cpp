#include "update/session_guard.h"

#include "app/run_log.h"

namespace {

constexpr wchar_t kDefaultReason[] = L"A firmware update is in progress. Wait until it has finished.";
constexpr wchar_t kWindowClass[] = L"TbtFwUpdateSessionGuard";

// Touched on the guard's thread only.
HWND g_hWnd = nullptr;
HANDLE g_hWorker = nullptr;
SessionEnd* g_pSessionEnd = nullptr;
bool g_bActive = false;
SessionRun g_run = SessionRun::kWriteVisible;
SessionEndExitFn g_pfnExit = nullptr;
void (*g_pfnEnded)() = nullptr;

LRESULT CALLBACK GuardWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_QUERYENDSESSION: return SessionGuardOnQueryEndSession(lParam);
    case WM_ENDSESSION:
      if (SessionGuardOnEndSession(static_cast<BOOL>(wParam)) && g_pfnEnded) g_pfnEnded();
      return 0;
    default: return DefWindowProcW(hWnd, message, wParam, lParam);
  }
}

// Tells the run's worker; true when its write was already handed over.
bool TellTheRun() {
  return g_pSessionEnd && g_pSessionEnd->Request();
}

// Tells the worker; logs what that means for the run.
void StopWorker(const char* why) {
  if (TellTheRun())
    RunLog("%s during the write: the write goes on; Windows may end this program before it has finished",
           why);
  else
    RunLog("%s before any write: nothing will be written; the device is switched off", why);
}

}  // namespace

void SessionGuardBegin(HWND hWnd, HANDLE hWorker, SessionEnd& sessionEnd, const wchar_t* pszReason,
                       SessionRun run) {
  g_hWnd = hWnd;
  g_hWorker = hWorker;
  g_pSessionEnd = &sessionEnd;
  g_bActive = true;
  g_run = run;
  if (run == SessionRun::kCheck) return;
  // Continuous: holds for this thread until it is cleared below. Idle sleep only.
  SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
  if (hWnd) ShutdownBlockReasonCreate(hWnd, pszReason && pszReason[0] ? pszReason : kDefaultReason);
}

void SessionGuardEnd() {
  if (!g_bActive) return;
  if (g_run != SessionRun::kCheck) {
    if (g_hWnd) ShutdownBlockReasonDestroy(g_hWnd);
    SetThreadExecutionState(ES_CONTINUOUS);
  }
  g_bActive = false;
  g_hWnd = nullptr;
  g_hWorker = nullptr;
  g_pSessionEnd = nullptr;
}

bool SessionGuardActive() {
  return g_bActive;
}

LRESULT SessionGuardOnQueryEndSession(LPARAM lParam) {
  if (!g_bActive) return TRUE;
  if (g_run == SessionRun::kCheck) {
    StopWorker("log-off or shutdown requested during a check: not refused;");
    return TRUE;
  }
  // A window people see may ask, unless the end is already forced.
  if (g_run == SessionRun::kWriteVisible && !(lParam & ENDSESSION_CRITICAL)) {
    RunLog("log-off or shutdown requested during the update: refused with the reason shown");
    return FALSE;
  }
  if (TellTheRun()) {
    // Refusing costs nothing; Windows ends this program anyway.
    RunLog("log-off or shutdown requested during the write: refused, though Windows need not wait for it");
    return FALSE;
  }
  RunLog(
      "log-off or shutdown requested before any write: nothing will be written; the device is switched off");
  return TRUE;
}

bool SessionGuardOnEndSession(BOOL bEnding) {
  if (!bEnding) return false;
  if (!g_bActive || !g_hWorker) return true;
  StopWorker("the session ends");
  const DWORD dwWait = WaitForSingleObject(g_hWorker, kSessionEndWaitMs);
  RunLog("the session ends: %s",
         dwWait == WAIT_OBJECT_0 ? "the update has ended" : "the update has not ended");
  return dwWait == WAIT_OBJECT_0;
}

void SessionGuardSetExit(SessionEndExitFn pfnExit) {
  g_pfnExit = pfnExit;
}

void SessionGuardExit(uint32_t dwExitCode) {
  if (g_pfnExit) g_pfnExit(dwExitCode);
}

HWND SessionGuardCreateWindow(void (*pfnEnded)()) {
  g_pfnEnded = pfnEnded;
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
