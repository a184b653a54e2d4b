#include "update/update_lock.h"

#include <sddl.h>

#include "app/run_log.h"

const wchar_t kUpdateLockName[] = L"Global\\TbtFwUpdate.OneUpdatePerMachine";

namespace {

// SYSTEM (a deployment tool's service) and elevated administrators (a person
// at the window) may both take the lock; nobody else can open it, so nobody
// else can hold it by accident. The DACL is protected: nothing inherited
// from the namespace's defaults is added.
constexpr wchar_t kLockSddl[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE CreateOrOpenLock(const wchar_t* pszName, DWORD& dwError) {
  PSECURITY_DESCRIPTOR pSd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSddl, SDDL_REVISION_1, &pSd, nullptr)) {
    dwError = GetLastError();
    return nullptr;
  }
  SECURITY_ATTRIBUTES sa{sizeof(sa), pSd, FALSE};
  HANDLE hMutex = CreateMutexW(&sa, FALSE, pszName);
  dwError = GetLastError();
  LocalFree(pSd);
  if (hMutex) return hMutex;
  // Created by another run under other rights: the rights a wait and a
  // release need may still be granted.
  hMutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, pszName);
  if (!hMutex) dwError = GetLastError();
  return hMutex;
}

}  // namespace

UpdateLockResult UpdateLockAcquire(HANDLE& hLock, const wchar_t* pszName) {
  hLock = nullptr;
  DWORD dwError = 0;
  HANDLE hMutex = pszName ? CreateOrOpenLock(pszName, dwError) : nullptr;
  if (!hMutex) {
    // A lock we cannot see might be held: refusing is the safe side.
    RunLog("update lock: cannot be created or opened (error %lu); counted as held",
           static_cast<unsigned long>(dwError));
    return UpdateLockResult::kBusy;
  }
  switch (WaitForSingleObject(hMutex, 0)) {
    case WAIT_OBJECT_0:
      RunLog("update lock: taken");
      hLock = hMutex;
      return UpdateLockResult::kTaken;
    case WAIT_ABANDONED:
      RunLog("update lock: taken over from a run that ended without releasing it");
      hLock = hMutex;
      return UpdateLockResult::kTakenOver;
    case WAIT_TIMEOUT: RunLog("update lock: held by another update; nothing is done"); break;
    default:
      RunLog("update lock: cannot be waited on (error %lu); counted as held",
             static_cast<unsigned long>(GetLastError()));
      break;
  }
  CloseHandle(hMutex);
  return UpdateLockResult::kBusy;
}

void UpdateLockRelease(HANDLE& hLock) {
  if (!hLock) return;
  ReleaseMutex(hLock);
  CloseHandle(hLock);
  hLock = nullptr;
  RunLog("update lock: released");
}
