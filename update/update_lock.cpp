#include "update/update_lock.h"

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "app/run_log.h"
#include "update/utf8.h"

// The object manager's typed opens (ntdll, all of one shape), which the SDK
// headers do not declare.
extern "C" {
NTSTATUS NTAPI NtOpenEvent(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenSemaphore(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenMutant(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenSection(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenTimer(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenJobObject(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenSymbolicLinkObject(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenDirectoryObject(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenKeyedEvent(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
NTSTATUS NTAPI NtOpenIoCompletion(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
}

const wchar_t kUpdateLockName[] = L"Global\\TbtFwUpdate.OneUpdatePerMachine";

namespace {

// Owned by Administrators, and only SYSTEM (a deployment tool's service) and
// elevated administrators (a person at the window) may open it. The DACL is
// protected: nothing inherited from the namespace's defaults is added.
constexpr wchar_t kLockSddl[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

// Whether the object behind `hObject` was made by a run of this tool: its
// owner is SYSTEM or Administrators. A process without administrator rights
// cannot make an object with either owner (neither is an owner its token
// may name), so it can make one under the name but never one that passes.
// `owner` gets the owner's SID string ("unreadable", "none").
bool OwnedByAdministrators(HANDLE hObject, std::string& owner) {
  PSID pOwner = nullptr;
  PSECURITY_DESCRIPTOR pSd = nullptr;
  owner = "unreadable";
  if (GetSecurityInfo(hObject, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr,
                      nullptr, &pSd) != ERROR_SUCCESS)
    return false;
  bool bOurs = false;
  if (pOwner) {
    LPWSTR pszSid = nullptr;
    if (ConvertSidToStringSidW(pOwner, &pszSid)) {
      owner = Utf8(pszSid);
      LocalFree(pszSid);
    }
    bOurs = IsWellKnownSid(pOwner, WinLocalSystemSid) || IsWellKnownSid(pOwner, WinBuiltinAdministratorsSid);
  } else {
    owner = "none";
  }
  LocalFree(pSd);
  return bOurs;
}

// Where a Global\ name lives in the object namespace; empty for any other name,
// which could differ between sessions and so cannot be one lock per machine.
std::wstring ObjectPathOf(const wchar_t* pszName) {
  static const wchar_t kGlobal[] = L"Global\\";
  const size_t prefix = sizeof kGlobal / sizeof kGlobal[0] - 1;
  if (!pszName || wcsncmp(pszName, kGlobal, prefix) != 0 || !pszName[prefix]) return {};
  return std::wstring(L"\\BaseNamedObjects\\") + (pszName + prefix);
}

constexpr NTSTATUS kObjectTypeMismatch = static_cast<NTSTATUS>(0xC0000024);
constexpr NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);

// What holds a name that is not our mutex.
struct NameHolder {
  const char* type = nullptr;  // null: none of the types below
  std::string owner = "unreadable";
};

// Finds the type of the object at `path` by opening it as each type in turn
// (a wrong type fails with a type mismatch whatever the object's DACL), and
// its owner where it grants this run READ_CONTROL. The link comes first: the
// other opens would follow it. Bounded, unlike a walk of the whole directory
// that any user can fill. False when nothing is there.
bool FindNameHolder(const std::wstring& path, NameHolder& holder) {
  using OpenFn = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
  static const struct {
    const char* type;
    OpenFn open;
  } kTypes[] = {
      {"SymbolicLink", NtOpenSymbolicLinkObject},
      {"Mutant", NtOpenMutant},
      {"Event", NtOpenEvent},
      {"Semaphore", NtOpenSemaphore},
      {"Section", NtOpenSection},
      {"Timer", NtOpenTimer},
      {"Job", NtOpenJobObject},
      {"Directory", NtOpenDirectoryObject},
      {"KeyedEvent", NtOpenKeyedEvent},
      {"IoCompletion", NtOpenIoCompletion},
  };
  UNICODE_STRING name{static_cast<USHORT>(path.size() * sizeof(wchar_t)),
                      static_cast<USHORT>(path.size() * sizeof(wchar_t)), const_cast<PWSTR>(path.c_str())};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
  bool bThere = false;
  for (const auto& candidate : kTypes) {
    HANDLE hObject = nullptr;
    const NTSTATUS status = candidate.open(&hObject, READ_CONTROL, &attributes);
    if (status == kObjectNameNotFound) return false;
    if (status == kObjectTypeMismatch) {
      bThere = true;
      continue;
    }
    holder.type = candidate.type;
    if (NT_SUCCESS(status)) {
      OwnedByAdministrators(hObject, holder.owner);
      CloseHandle(hObject);
    }
    return true;
  }
  return bThere;  // some type not in the table
}

// Whether `hMutex` is the object at `path` itself, not one that a symbolic
// link put at that name leads to (a link its maker could aim elsewhere for
// the next run). A named object stays in its directory while it is open, so
// the answer holds for as long as the handle does. `dwError` says why not.
bool IsObjectAt(HANDLE hMutex, const std::wstring& path, DWORD& dwError) {
  alignas(UNICODE_STRING) BYTE buffer[sizeof(UNICODE_STRING) + 512 * sizeof(wchar_t)];
  ULONG size = 0;
  const NTSTATUS status =
      NtQueryObject(hMutex, static_cast<OBJECT_INFORMATION_CLASS>(1) /* ObjectNameInformation */, buffer,
                    sizeof buffer, &size);
  if (!NT_SUCCESS(status)) {
    dwError = RtlNtStatusToDosError(status);
    return false;
  }
  const UNICODE_STRING& name = *reinterpret_cast<const UNICODE_STRING*>(buffer);
  dwError = ERROR_BAD_PATHNAME;
  return CompareStringOrdinal(name.Buffer, static_cast<int>(name.Length / sizeof(wchar_t)), path.c_str(),
                              static_cast<int>(path.size()), TRUE) == CSTR_EQUAL;
}

bool IsMutex(const NameHolder& holder) {
  return holder.type && std::strcmp(holder.type, "Mutant") == 0;
}

void LogHeldByAnother(const wchar_t* pszName, const NameHolder& holder) {
  std::string what = "an object that is not a mutex";
  if (holder.type) what = std::string("an object of type ") + holder.type;
  RunLog(
      "update lock: %s is held by %s (owner %s), not by a mutex of this tool: it was made by another "
      "program, not by a run of this tool",
      Utf8(pszName).c_str(), what.c_str(), holder.owner.c_str());
}

enum class LockOpen { kOpened, kNotOurs, kFailed };

LockOpen CreateOrOpenLock(const wchar_t* pszName, HANDLE& hMutex, DWORD& dwError) {
  hMutex = nullptr;
  const std::wstring path = ObjectPathOf(pszName);
  if (path.empty()) {
    dwError = ERROR_INVALID_NAME;
    return LockOpen::kFailed;
  }
  PSECURITY_DESCRIPTOR pSd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockSddl, SDDL_REVISION_1, &pSd, nullptr)) {
    dwError = GetLastError();
    return LockOpen::kFailed;
  }
  SECURITY_ATTRIBUTES sa{sizeof(sa), pSd, FALSE};
  hMutex = CreateMutexW(&sa, FALSE, pszName);
  dwError = GetLastError();
  LocalFree(pSd);
  const bool bMadeNow = hMutex && dwError != ERROR_ALREADY_EXISTS;
  if (!hMutex) {
    // Made by another process. A run of this tool grants SYSTEM and
    // administrators everything; an object that grants an elevated run not
    // even a wait was made by something else.
    hMutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE, pszName);
    if (!hMutex) {
      dwError = GetLastError();
      if (dwError == ERROR_ACCESS_DENIED) {
        RunLog(
            "update lock: %s exists but grants this run no access: it was made by another program, "
            "not by a run of this tool",
            Utf8(pszName).c_str());
        return LockOpen::kNotOurs;
      }
      // Error 6 means the name is held by an object of another type; a link
      // to nowhere fails with "path not found". Whatever holds the name, it
      // is not a lock of ours, and no run of this tool is behind it.
      NameHolder holder;
      const bool bHeld = FindNameHolder(path, holder);
      if (!IsMutex(holder) && (bHeld || dwError == ERROR_INVALID_HANDLE)) {
        LogHeldByAnother(pszName, holder);
        return LockOpen::kNotOurs;
      }
      return LockOpen::kFailed;
    }
  }
  if (!IsObjectAt(hMutex, path, dwError)) {
    CloseHandle(hMutex);
    hMutex = nullptr;
    NameHolder holder;
    if (!FindNameHolder(path, holder) || IsMutex(holder)) return LockOpen::kFailed;
    LogHeldByAnother(pszName, holder);
    return LockOpen::kNotOurs;
  }
  if (bMadeNow) return LockOpen::kOpened;  // made just now, by us, at the name itself
  std::string owner;
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
