// The session around a run. While a write may come, the system is kept from
// idle sleep (only idle sleep: the lid, the power button and Start > Sleep
// still suspend the machine), and a window that people see asks them, with a
// reason, not to log off or shut down. Windows lets them go on anyway, and
// lets no window nobody sees (a silent run's) hold off the end at all: so
// once the session is ending, a run that has not handed the image to the
// provider never does; it switches the device off and ends. A write already
// handed over is left to finish for as long as the session lasts. Used on the
// thread that owns the answering window (the dialog's, or a silent run's
// hidden one).
#pragma once

#include <windows.h>

#include <cstdint>

#include "update/session_end.h"

// How long a session that ends anyway waits for the worker. Only a safety
// net: Windows ends a program a few seconds after WM_ENDSESSION whatever it
// waits for, so a write in progress may be cut off by the system.
constexpr DWORD kSessionEndWaitMs = 60000;

// What the run may do, and so how it answers a log-off or shutdown.
enum class SessionRun {
  kCheck,         // writes nothing: never refuses; a session end stops it
  kWriteVisible,  // a window people see: refuses with its reason until the end is forced
  kWriteHidden,   // no visible window: cannot refuse, so the request itself stops it
};

// From now until SessionGuardEnd: the system stays awake, the answers above
// hold for `hWnd`, a session that ends is told to `sessionEnd` (the run's,
// which the worker reads) and waits for `hWorker` to end. `pszReason` (null
// or empty: an English sentence) is shown for a refusal.
void SessionGuardBegin(HWND hWnd, HANDLE hWorker, SessionEnd& sessionEnd, const wchar_t* pszReason,
                       SessionRun run = SessionRun::kWriteVisible);
void SessionGuardEnd();
bool SessionGuardActive();

// The answers of any top-level window of the program. WM_QUERYENDSESSION is
// TRUE when no run is active, for a check, and for a run that stops on it;
// FALSE while a write is due or runs and the window may ask. WM_ENDSESSION
// with TRUE tells the worker and waits for it, at most kSessionEndWaitMs; it
// returns true when the session ends and no worker runs (none was active, or
// it has ended): the run's outcome is final and the program may finish.
LRESULT SessionGuardOnQueryEndSession(LPARAM lParam = 0);
bool SessionGuardOnEndSession(BOOL bEnding);

// The program's last step when the session ends under it, once the worker
// has ended: its log's result line and its exit code, before Windows ends
// the process (which would otherwise end with a code of its own). Set by the
// application; without one the process is left to Windows.
using SessionEndExitFn = void (*)(uint32_t dwExitCode);
void SessionGuardSetExit(SessionEndExitFn pfnExit);
void SessionGuardExit(uint32_t dwExitCode);

// A hidden top-level window that answers through the guard, for a run without
// a window of its own (message-only windows get no broadcasts); null when it
// cannot be created. Destroy it with DestroyWindow on the same thread. After
// the worker has ended on a session end, it calls `pfnEnded` (may be null).
HWND SessionGuardCreateWindow(void (*pfnEnded)() = nullptr);

// Waits for `hThread` to end while dispatching this thread's messages.
void SessionGuardWaitDispatching(HANDLE hThread);

// Whether this process's window station is one a person sees (WSF_VISIBLE).
// A station that cannot be asked counts as unseen.
bool SessionIsInteractive();
