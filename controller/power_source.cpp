#include "controller/power_source.h"

#include <windows.h>
#include <powrprof.h>

bool PowerRunsOnBattery() {
  // SYSTEM_BATTERY_STATE: 32 bytes, AcOnLine first.
  BYTE state[32] = {};
  const LONG nStatus = ::CallNtPowerInformation(SystemBatteryState, nullptr, 0, state, sizeof(state));
  return nStatus == 0 && state[0] == 0;
}
