// Stand-ins for the machine access of the update worker (the device switch and
// the service start, linked in place of the real ones) and a sleep for the
// worker's sleep seam. Each records an event together with the provider's
// call counters at that moment (when a counter source is set), so a test sees
// where in the sequence it happened.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct WorkerEvent {
  std::string what;  // "acpi <id> <state>", "service <name>", "sleep <ms>", "open", "close"
  uint32_t connects, versions, reads, updates;
  bool comReady;  // the thread was in a single-threaded COM apartment
};

std::vector<WorkerEvent>& WorkerEvents();

// Fills the counters of an event; without one they stay 0.
using EventCounters = void (*)(WorkerEvent& event);
void SetEventCounters(EventCounters counters);

void RecordWorkerEvent(const std::string& what);

// Records "sleep <ms>" and returns at once.
class SessionEnd;
void RecordingSleep(DWORD milliseconds, SessionEnd& sessionEnd);
