#include "update/update_run.h"

#include "app/run_log.h"
#include "controller/acpi_channel.h"
#include "controller/power_source.h"
#include "update/attempt_record.h"
#include "update/session_guard.h"
#include "update/update_lock.h"
#include "update/update_worker.h"

UpdatePrecheck CheckUpdatePreconditions() {
  if (!AcpiIsOpen()) AcpiOpen();
  if (!AcpiIsOpen()) {
    RunLog("ACPI control device \\\\.\\QMXACPI: cannot be opened");
    return UpdatePrecheck::kDeviceMissing;
  }
  RunLog("ACPI control device \\\\.\\QMXACPI: open");
  const bool bOnBattery = PowerRunsOnBattery();
  RunLog("power: %s", bOnBattery ? "on battery" : "mains (or not reported)");
  return bOnBattery ? UpdatePrecheck::kOnBattery : UpdatePrecheck::kReady;
}

TbtStatus UpdateRunTakeLock(HANDLE& hLock) {
  switch (UpdateLockAcquire(hLock)) {
    case UpdateLockResult::kBusy: return ERR_ALREADY_RUNNING;
    case UpdateLockResult::kNotOurs: return ERR_LOCK_NOT_OURS;
    default: break;
  }
  // With the lock held no attempt runs: one on record as handed over ended
  // without its answer.
  LogInterruptedAttempt();
  return STATUS_OK;
}

void UpdateRunRecordRefusal(TbtStatus status, bool bCheckOnly) {
  AttemptRecord record;
  record.status = status;
  record.checkOnly = bCheckOnly;
  RecordAttempt(record);
}

namespace {

// What a silent run's hidden window needs when the session ends under it.
UpdateState* g_pUnattended = nullptr;
HANDLE g_hUnattendedLock = nullptr;

void EndUnattendedWithSession() {
  AcpiClose();
  UpdateLockRelease(g_hUnattendedLock);
  SessionGuardExit(g_pUnattended ? g_pUnattended->m_dwStatus : STATUS_SESSION_ENDING);
}

}  // namespace

TbtStatus RunUpdateUnattended(UpdateState& state, const wchar_t* pszShutdownReason) {
  HANDLE& hLock = g_hUnattendedLock;
  if (TbtStatus refused = UpdateRunTakeLock(hLock)) {
    state.m_dwStatus = refused;
    return refused;
  }
  g_pUnattended = &state;
  TbtStatus status = STATUS_OK;
  switch (CheckUpdatePreconditions()) {
    case UpdatePrecheck::kDeviceMissing: status = ERR_ACPI_DEVICE_MISSING; break;
    case UpdatePrecheck::kOnBattery:
      if (!state.m_bCheckOnly) {
        status = ERR_ON_BATTERY;
        break;
      }
      [[fallthrough]];
    case UpdatePrecheck::kReady: {
      // Started suspended: the guard is in place before the worker's first step.
      HANDLE hThread = ::CreateThread(nullptr, 0, UpdateWorker, &state, CREATE_SUSPENDED, nullptr);
      if (!hThread) {
        status = ERR_OUT_OF_MEMORY;  // as the window reports a worker that cannot start
        break;
      }
      HWND hGuard = SessionGuardCreateWindow(EndUnattendedWithSession);
      if (!hGuard) RunLog("session guard window: cannot be created (error %lu)", GetLastError());
      SessionGuardBegin(hGuard, hThread, pszShutdownReason,
                        state.m_bCheckOnly ? SessionRun::kCheck : SessionRun::kWriteHidden);
      ::ResumeThread(hThread);
      SessionGuardWaitDispatching(hThread);
      SessionGuardEnd();
      if (hGuard) ::DestroyWindow(hGuard);
      ::CloseHandle(hThread);
      status = state.m_dwStatus;
      break;
    }
  }
  // The worker records its own outcome; a run that ended before it, here.
  if (status == ERR_ACPI_DEVICE_MISSING || status == ERR_ON_BATTERY || status == ERR_OUT_OF_MEMORY)
    UpdateRunRecordRefusal(status, state.m_bCheckOnly != 0);
  AcpiClose();
  UpdateLockRelease(hLock);
  g_pUnattended = nullptr;
  state.m_dwStatus = status;
  return status;
}
