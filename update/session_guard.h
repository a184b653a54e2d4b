// Nothing of the machine's own may interrupt a write: while the worker runs,
// the system is kept from idle sleep and a log-off or shutdown is refused with
// a reason the person sees. A session that ends anyway waits, bounded, for the
// worker's tail, so that the device is switched off. Used on the thread that
// owns the answering window (the dialog's, or a silent run's hidden one).
#pragma once

#include <windows.h>

// How long a session that ends anyway waits for the worker: its tail is a
// 10 s wait and the device switch, and a write in progress needs its time
// before that. Windows ends the process once the answer to WM_ENDSESSION is in.
constexpr DWORD kSessionEndWaitMs = 60000;

// From now until SessionGuardEnd: the system stays awake, `hWnd` refuses a
// log-off or shutdown with `pszReason` (null or empty: an English sentence),
// and a session that ends anyway waits for `hWorker` to end.
void SessionGuardBegin(HWND hWnd, HANDLE hWorker, const wchar_t* pszReason);
void SessionGuardEnd();
bool SessionGuardActive();

// The answers of any top-level window of the program: WM_QUERYENDSESSION is
// FALSE while the guard is active, TRUE at any other time; WM_ENDSESSION with
// TRUE while it is active waits for the worker, at most kSessionEndWaitMs.
LRESULT SessionGuardOnQueryEndSession();
void SessionGuardOnEndSession(BOOL bEnding);

// A hidden top-level window that answers through the guard, for a run without
// a window of its own (message-only windows get no broadcasts); null when it
// cannot be created. Destroy it with DestroyWindow on the same thread.
HWND SessionGuardCreateWindow();

// Waits for `hThread` to end while dispatching this thread's messages.
void SessionGuardWaitDispatching(HANDLE hThread);

// Whether this process's window station is one a person sees (WSF_VISIBLE).
// A station that cannot be asked counts as unseen.
bool SessionIsInteractive();
