// How a run starts: the checks the Update button makes before it starts the
// worker, and a whole run without a window for deployment tools. The window
// and a silent run go through the same checks and the same worker.
#pragma once

#include <windows.h>

#include "app/status.h"
#include "app/update_state.h"

enum class UpdatePrecheck {
  kReady,          // the device channel is open and the machine on mains power
  kDeviceMissing,  // the ACPI control device cannot be opened
  kOnBattery,      // the machine runs on battery
};

// Opens the ACPI channel unless it is open, then asks about the power source.
// Without the device there is no power query.
UpdatePrecheck CheckUpdatePreconditions();

// Whether a run may begin, before anything reaches the device. Takes the
// machine's update lock; once it is taken, logs an attempt on record that was
// interrupted during its write, then looks at what was handed to the provider
// since the computer started: nothing may follow an interrupted or
// unanswered write (its provider may still be writing) or a written image
// (the controller runs it only after a shutdown) before a restart, except that
// the same image written again is no run at all. Returns STATUS_OK with the
// lock in `hLock`; STATUS_OK with `bAlreadyWritten`, nothing held, when this
// very image was written since the start; or why not (ERR_ALREADY_RUNNING,
// ERR_LOCK_NOT_OURS, ERR_RESTART_REQUIRED), nothing held and nothing touched.
TbtStatus UpdateRunBegin(HANDLE& hLock, bool& bAlreadyWritten);

// Records an attempt that took the lock and ended before the worker ran: its
// status, every other value cleared.
void UpdateRunRecordRefusal(TbtStatus status, bool bCheckOnly);

// A run without a window: the machine's update lock (or its refusal,
// with nothing touched), the checks, then the worker on its own thread with
// `state`, whose m_dwStatus is the outcome. A check-only run goes ahead on
// battery, since it writes nothing; any other silent run ends there with
// ERR_ON_BATTERY. While the worker runs, a hidden window answers a log-off or
// shutdown (see session_guard.h): a run that has not begun its write stops
// and ends with STATUS_SESSION_ENDING; when the session ends, the program's
// session-end exit is called once the worker has ended. Closes the ACPI channel, then releases
// the lock. Returns the final status.
TbtStatus RunUpdateUnattended(UpdateState& state, const wchar_t* pszShutdownReason = nullptr);
