#include "update/update_lock.h"

#include <aclapi.h>
#include <sddl.h>

#include "app/run_log.h"
#include "update/utf8.h"

const wchar_t kUpdateLockName[] = L"Global\\TbtFwUpdate.OneUpdatePerMachine";

namespace {

// Owned by Administrators, and only SYSTEM (a deployment tool's service) and
// elevated administrators (a person at the window) may open it. The DACL is
// protected: nothing inherited from the namespace's defaults is added.
constexpr wchar_t kLockSddl[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Whether the object behind `hMutex` was made by a run of this tool: its
// owner is SYSTEM or Administrators. A process without administrator rights
// cannot make an object with either owner (neither is an owner its token
// may name), so it can make one under the name but never one that passes.
bool OwnedByAdministrators(HANDLE hMutex, std::string& owner) {
  PSID pOwner = nullptr;
  PSECURITY_DESCRIPTOR pSd = nullptr;
  if (GetSecurityInfo(hMutex, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr,
                      nullptr, &pSd) != ERROR_SUCCESS) {
    owner = "unreadable";
    return false;
  }
  bool bOurs = false;
  if (pOwner) {
    LPWSTR pszSid = nullptr;
    if (ConvertSidToStringSidW(pOwner, &pszSid)) {
      owner = Utf8(pszSid);
      LocalFree(pszSid);
    }
    bOurs = IsWellKnownSid(pOwner, WinLocalSystemSid) || IsWellKnownSid(pOwner, WinBuiltinAdministratorsSid);
  }
  LocalFree(pSd);
  return bOurs;
}

enum class LockOpen { kOpened, kNotOurs, kFailed };

LockOpen CreateOrOpenLock(const wchar_t* pszName, HANDLE& hMutex, DWORD& dwError) {
  hMutex = nullptr;
  PSECURITY_DESCRIPTOR pSd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSddl, SDDL_REVISION_1, &pSd, nullptr)) {
    dwError = GetLastError();
    return LockOpen::kFailed;
  }
  SECURITY_ATTRIBUTES sa{sizeof(sa), pSd, FALSE};
  hMutex = CreateMutexW(&sa, FALSE, pszName);
  dwError = GetLastError();
  LocalFree(pSd);
  if (hMutex && dwError != ERROR_ALREADY_EXISTS) return LockOpen::kOpened;  // made just now, by us
  if (!hMutex) {
    // Made by another process. A run of this tool grants SYSTEM and
    // administrators everything; an object that grants an elevated run not
    // even a wait was made by something else.
    hMutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE, pszName);
    if (!hMutex) {
      dwError = GetLastError();
      if (dwError != ERROR_ACCESS_DENIED) return LockOpen::kFailed;
      RunLog(
          "update lock: %s exists but grants this run no access: it was made by another program, "
          "not by a run of this tool",
          Utf8(pszName).c_str());
      return LockOpen::kNotOurs;
    }
  }
  std::string owner = "unknown";
  if (OwnedByAdministrators(hMutex, owner)) return LockOpen::kOpened;
  RunLog(
      "update lock: %s exists but is owned by %s, not by SYSTEM or Administrators: it was made by "
      "another program, not by a run of this tool",
      Utf8(pszName).c_str(), owner.c_str());
  CloseHandle(hMutex);
  hMutex = nullptr;
  return LockOpen::kNotOurs;
}

}  // namespace

UpdateLockResult UpdateLockAcquire(HANDLE& hLock, const wchar_t* pszName) {
  hLock = nullptr;
  DWORD dwError = 0;
  HANDLE hMutex = nullptr;
  const LockOpen open = pszName ? CreateOrOpenLock(pszName, hMutex, dwError) : LockOpen::kFailed;
  if (open == LockOpen::kNotOurs) return UpdateLockResult::kNotOurs;
  if (open == LockOpen::kFailed) {
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
    case WAIT_TIMEOUT:
      RunLog("update lock: held by another run of this tool (an update or a check); nothing is done");
      break;
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
