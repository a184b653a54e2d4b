#include "update/update_run.h"

#include "app/run_log.h"
#include "controller/acpi_channel.h"
#include "controller/power_source.h"
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

TbtStatus RunUpdateUnattended(UpdateState& state) {
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
      HANDLE hThread = ::CreateThread(nullptr, 0, UpdateWorker, &state, 0, nullptr);
      if (!hThread) {
        status = ERR_OUT_OF_MEMORY;  // as the window reports a worker that cannot start
        break;
      }
      ::WaitForSingleObject(hThread, INFINITE);
      ::CloseHandle(hThread);
      status = state.m_dwStatus;
      break;
    }
  }
  AcpiClose();
  state.m_dwStatus = status;
  return status;
}
