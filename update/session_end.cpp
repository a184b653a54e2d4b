#include "update/session_end.h"

#include "update/update_worker.h"

namespace {

SRWLOCK g_lock = SRWLOCK_INIT;
bool g_bRequested = false;
bool g_bHandedOver = false;
const HANDLE g_hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);

bool ReadFlag(const bool& bFlag) {
  AcquireSRWLockShared(&g_lock);
  const bool bValue = bFlag;
  ReleaseSRWLockShared(&g_lock);
  return bValue;
}

}  // namespace

bool SessionEndRequested() {
  return ReadFlag(g_bRequested);
}

bool SessionEndBeginHandOver() {
  AcquireSRWLockExclusive(&g_lock);
  const bool bGo = !g_bRequested;
  if (bGo) g_bHandedOver = true;
  ReleaseSRWLockExclusive(&g_lock);
  return bGo;
}

bool SessionEndHandedOver() {
  return ReadFlag(g_bHandedOver);
}

HANDLE SessionEndEvent() {
  return g_hEvent;
}

bool UpdateWorkerStopForSessionEnd() {
  AcquireSRWLockExclusive(&g_lock);
  g_bRequested = true;
  const bool bHandedOver = g_bHandedOver;
  ReleaseSRWLockExclusive(&g_lock);
  if (g_hEvent) SetEvent(g_hEvent);
  return bHandedOver;
}
