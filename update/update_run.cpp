#include "update/update_run.h"

#include "app/run_log.h"
#include "controller/acpi_channel.h"
#include "controller/power_source.h"
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

TbtStatus RunUpdateUnattended(UpdateState& state, const wchar_t* pszShutdownReason) {
  HANDLE hLock = nullptr;
  if (UpdateLockAcquire(hLock) == UpdateLockResult::kBusy) {
    state.m_dwStatus = ERR_ALREADY_RUNNING;
    return ERR_ALREADY_RUNNING;
  }
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
      HWND hGuard = SessionGuardCreateWindow();
      if (!hGuard) RunLog("session guard window: cannot be created (error %lu)", GetLastError());
      SessionGuardBegin(hGuard, hThread, pszShutdownReason);
      ::ResumeThread(hThread);
      SessionGuardWaitDispatching(hThread);
      SessionGuardEnd();
      if (hGuard) ::DestroyWindow(hGuard);
      ::CloseHandle(hThread);
      status = state.m_dwStatus;
      break;
    }
  }
  AcpiClose();
  UpdateLockRelease(hLock);
  state.m_dwStatus = status;
  return status;
}
