#include "fake_flow.h"

#include "controller/acpi_channel.h"
#include "controller/power_off.h"
#include "controller/power_source.h"
#include "update/update_worker.h"

FakeFlow& Fake() {
  static FakeFlow s_fake;
  return s_fake;
}

bool AcpiOpen() {
  ++Fake().acpiOpenCalls;
  Fake().acpiOpen = Fake().acpiAvailable;
  return Fake().acpiOpen;
}

bool AcpiClose() {
  ++Fake().acpiCloseCalls;
  const bool wasOpen = Fake().acpiOpen;
  Fake().acpiOpen = false;
  return wasOpen;
}

bool AcpiIsOpen() {
  return Fake().acpiOpen;
}

bool PowerRunsOnBattery() {
  ++Fake().powerQueries;
  return Fake().onBattery;
}

void PowerOffMachine(HWND hwndDialog) {
  ++Fake().powerOffCalls;
  Fake().powerOffWindow = hwndDialog;
  ::PostMessageW(hwndDialog, WM_CLOSE, 0, 0);
}

DWORD WINAPI UpdateWorker(LPVOID param) {
  FakeFlow& fake = Fake();
  ++fake.workerRuns;
  fake.workerParam = param;
  fake.workerThreadId = ::GetCurrentThreadId();
  auto* state = static_cast<UpdateState*>(param);
  if (fake.during) fake.during(state);
  ::Sleep(fake.workerMillis);
  state->m_dwStatus = fake.workerStatus;
  return 0;
}
