// Stand-ins, linked into the window test programs in place of the worker, the
// ACPI channel, the power-off and the battery query, so that the dialog's
// flow can be driven to every outcome on a machine without the hardware.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>

#include "app/update_state.h"

struct FakeFlow {
  // ACPI channel
  bool acpiAvailable = true;
  bool acpiOpen = false;
  int acpiOpenCalls = 0;
  int acpiCloseCalls = 0;
  // Battery query
  bool onBattery = false;
  int powerQueries = 0;
  // Worker: sleeps, runs `during` on its own thread, then leaves `status`.
  uint32_t workerStatus = 0;
  DWORD workerMillis = 0;
  std::function<void(UpdateState*)> during;
  int workerRuns = 0;
  void* workerParam = nullptr;
  DWORD workerThreadId = 0;
  // Power-off
  int powerOffCalls = 0;
  HWND powerOffWindow = nullptr;

  void Reset() { *this = FakeFlow(); }
};

FakeFlow& Fake();
