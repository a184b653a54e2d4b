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

// Both fixed waits of the worker go through this function. The product always
// sleeps for real; tests install a recorder so they see the waits without
// spending them. nullptr restores the real sleep. Set it before the worker starts.
using UpdateSleepFn = void (*)(DWORD milliseconds);
void SetUpdateSleep(UpdateSleepFn pfnSleep);
