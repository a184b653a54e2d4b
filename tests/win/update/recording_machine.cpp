#include "tests/win/update/recording_machine.h"

#include <objbase.h>

#include <cstdio>

#include "controller/acpi_channel.h"
#include "controller/tbt_service.h"

namespace {

bool InSingleThreadedApartment() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  if (FAILED(CoGetApartmentType(&type, &qualifier))) return false;
  return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

EventCounters g_counters = nullptr;

}  // namespace

void SetEventCounters(EventCounters counters) {
  g_counters = counters;
}

std::vector<WorkerEvent>& WorkerEvents() {
  static std::vector<WorkerEvent> events;
  return events;
}

void RecordWorkerEvent(const std::string& what) {
  WorkerEvent event{what, 0, 0, 0, 0, InSingleThreadedApartment()};
  if (g_counters) g_counters(event);
  WorkerEvents().push_back(event);
}

void RecordingSleep(DWORD milliseconds, SessionEnd&) {
  RecordWorkerEvent("sleep " + std::to_string(milliseconds));
}

bool AcpiSetDeviceState(uint32_t deviceId, uint32_t state, uint32_t& reply) {
  char text[48];
  std::snprintf(text, sizeof(text), "acpi 0x%08X %u", static_cast<unsigned>(deviceId),
                static_cast<unsigned>(state));
  RecordWorkerEvent(text);
  reply = 0;
  return true;
}

void StartTbtService(const wchar_t* serviceName) {
  char name[128] = {};
  if (serviceName) WideCharToMultiByte(CP_UTF8, 0, serviceName, -1, name, sizeof(name) - 1, nullptr, nullptr);
  RecordWorkerEvent(std::string("service ") + name);
}
