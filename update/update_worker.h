// The update itself: the body of the one worker thread that the dialog starts
// when the user presses Update. Its only output is UpdateState::m_dwStatus.
#pragma once

#include <windows.h>

#include "app/update_state.h"

// `param` is the dialog's UpdateState. Switches the Thunderbolt device on,
// starts the provider's service, loads data\*.bin beside the executable,
// checks it against the controller, applies the version policy and hands it
// to the provider; every path ends by switching the device off again.
// Returns 0.
DWORD WINAPI UpdateWorker(LPVOID param);

// Both fixed waits of the worker go through this function. The product waits
// for real, cut short when the session ends unless a write was handed over;
// tests install a recorder so they see the waits without spending them.
// nullptr restores the real wait. Set it before the worker starts.
class SessionEnd;
using UpdateSleepFn = void (*)(DWORD milliseconds, SessionEnd& sessionEnd);
void SetUpdateSleep(UpdateSleepFn pfnSleep);

// The session's end reaches the worker through the state's m_pSessionEnd
// (session_end.h): a worker that has not yet handed the image to the provider
// never will. Its waits end at once, no further provider call is made, it
// switches the device off without the settle wait that only a write needs,
// and ends with STATUS_SESSION_ENDING. A write already handed over is left to
// finish.
