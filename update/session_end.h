// Whether the session is ending, and whether the worker handed the image
// over: one lock, so that the two never cross. Either the worker hands the
// image over before the session end is known (the write runs and is waited
// for), or it sees the end and never does. Told from the window's thread
// through UpdateWorkerStopForSessionEnd (update_worker.h).
#pragma once

#include <windows.h>

// Whether the session has started to end.
bool SessionEndRequested();

// The worker's last step before the write: false once the session is ending;
// otherwise marks the image as handed over.
bool SessionEndBeginHandOver();
bool SessionEndHandedOver();

// Signalled when the session starts to end: the waits before a write end on it.
HANDLE SessionEndEvent();
