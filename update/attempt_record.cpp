#include "update/attempt_record.h"

#include <cwchar>

#include "app/run_log.h"
#include "update/utf8.h"

namespace {

LONG SetDword(HKEY hKey, const wchar_t* name, uint32_t value) {
  const DWORD data = value;
  return ::RegSetValueExW(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

LONG SetString(HKEY hKey, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool GetDword(HKEY hKey, const wchar_t* name, uint32_t& value) {
  DWORD data = 0, size = sizeof data, type = 0;
  const bool ok = ::RegQueryValueExW(hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) ==
                      ERROR_SUCCESS &&
                  type == REG_DWORD && size == sizeof data;
  if (ok) value = data;
  return ok;
}

// Bounded: the values are ours (a SHA-256 in hex, a time), but anyone with
// the rights may have put something else there.
void GetText(HKEY hKey, const wchar_t* name, std::wstring& value) {
  wchar_t buffer[80] = L"";
  DWORD size = sizeof buffer - sizeof(wchar_t), type = 0;
  if (::RegQueryValueExW(hKey, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ)
    value.assign(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
}

}  // namespace

std::wstring Iso8601Utc(const SYSTEMTIME& time) {
  wchar_t text[32];
  std::swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay, time.wHour,
                time.wMinute, time.wSecond);
  return text;
}

LONG WriteAttemptRecord(HKEY hRoot, const wchar_t* subkey, const AttemptRecord& record) {
  HKEY hKey = nullptr;
  LONG result = ::RegCreateKeyExW(hRoot, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &hKey, nullptr);
  if (result != ERROR_SUCCESS) return result;
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  const std::wstring time = Iso8601Utc(now);
  // The first failure is the one reported; the others are still tried.
  auto keep = [&result](LONG step) {
    if (result == ERROR_SUCCESS) result = step;
  };
  if (record.checkOnly) {
    keep(SetDword(hKey, L"LastCheckStatus", record.status));
    keep(SetString(hKey, L"LastCheckTime", time));
  } else {
    keep(SetDword(hKey, L"LastAttemptStatus", record.status));
    keep(SetDword(hKey, L"LastAttemptProviderCode", record.providerCode));
    keep(SetDword(hKey, L"LastAttemptImageVersion", record.imageVersion));
    keep(SetString(hKey, L"LastAttemptImageSha256",
                   std::wstring(record.imageSha256.begin(), record.imageSha256.end())));
    keep(SetDword(hKey, L"ControllerVersionBeforeAttempt", record.versionBeforeAttempt));
    // The previous release's name for the same value, kept for one release.
    keep(SetDword(hKey, L"ControllerVersion", record.versionBeforeAttempt));
    keep(SetString(hKey, L"LastAttemptTime", time));
    // Written just before the image is handed over: it must be on the disk
    // should the machine lose power during the write.
    if (record.status == ERR_INTERRUPTED) keep(::RegFlushKey(hKey));
  }
  ::RegCloseKey(hKey);
  return result;
}

bool RecordAttempt(const AttemptRecord& record) {
  const LONG result = WriteAttemptRecord(HKEY_LOCAL_MACHINE, kAttemptRecordKey, record);
  if (result == ERROR_SUCCESS)
    RunLog("record HKLM\\%s (64-bit view): %s %s", Utf8(kAttemptRecordKey).c_str(),
           record.checkOnly ? "LastCheckStatus" : "LastAttemptStatus", StatusForLog(record.status).c_str());
  else
    RunLog("record HKLM\\%s (64-bit view): not written (error %ld)", Utf8(kAttemptRecordKey).c_str(),
           static_cast<long>(result));
  return result == ERROR_SUCCESS;
}

bool ReadAttemptRecord(HKEY hRoot, const wchar_t* subkey, RecordedAttempt& attempt) {
  HKEY hKey = nullptr;
  if (::RegOpenKeyExW(hRoot, subkey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &hKey) != ERROR_SUCCESS)
    return false;
  const bool found = GetDword(hKey, L"LastAttemptStatus", attempt.status);
  GetDword(hKey, L"LastAttemptImageVersion", attempt.imageVersion);
  GetText(hKey, L"LastAttemptImageSha256", attempt.imageSha256);
  GetText(hKey, L"LastAttemptTime", attempt.time);
  ::RegCloseKey(hKey);
  return found;
}

void LogInterruptedAttempt() {
  RecordedAttempt last;
  if (!ReadAttemptRecord(HKEY_LOCAL_MACHINE, kAttemptRecordKey, last) ||
      (last.status != ERR_INTERRUPTED && last.status != ERR_OUTCOME_UNKNOWN))
    return;
  RunLog(
      "record: the attempt of %s was interrupted during the write%s (image version 0x%X, SHA-256 %s); "
      "the firmware it left is unknown",
      last.time.empty() ? "unknown time" : Utf8(last.time).c_str(),
      last.status == ERR_OUTCOME_UNKNOWN ? " or ended without the provider's answer" : "",
      static_cast<unsigned>(last.imageVersion),
      last.imageSha256.empty() ? "unknown" : Utf8(last.imageSha256).c_str());
}

namespace {

constexpr DWORD kBootInterrupted = 1;
constexpr DWORD kBootWritten = 2;

}  // namespace

ThisBootAttempt ReadThisBoot() {
  ThisBootAttempt attempt;
  HKEY hKey = nullptr;
  const LONG opened =
      ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kThisBootKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &hKey);
  if (opened == ERROR_FILE_NOT_FOUND) return attempt;
  attempt.kind = BootAttempt::kInterrupted;
  if (opened != ERROR_SUCCESS) return attempt;
  uint32_t kind = 0;
  const bool known = GetDword(hKey, L"Attempt", kind);
  GetText(hKey, L"ImageSha256", attempt.imageSha256);
  GetText(hKey, L"Time", attempt.time);
  ::RegCloseKey(hKey);
  if (known && kind == kBootWritten && attempt.imageSha256.size() == 64) attempt.kind = BootAttempt::kWritten;
  return attempt;
}

bool MarkThisBoot(BootAttempt kind, const std::string& imageSha256) {
  if (kind == BootAttempt::kNone) {
    const LONG result = ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kThisBootKey, KEY_WOW64_64KEY, 0);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
  }
  // The record's own key stays on the disk: a volatile key made on the way
  // to this one would take the record with it at the next restart.
  HKEY hRecord = nullptr, hKey = nullptr;
  if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kAttemptRecordKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_CREATE_SUB_KEY | KEY_WOW64_64KEY, nullptr, &hRecord, nullptr) != ERROR_SUCCESS)
    return false;
  // Volatile: in memory only, gone once the computer restarts.
  const LONG created = ::RegCreateKeyExW(hRecord, L"ThisBoot", 0, nullptr, REG_OPTION_VOLATILE,
                                         KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &hKey, nullptr);
  ::RegCloseKey(hRecord);
  if (created != ERROR_SUCCESS) return false;
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  LONG result = SetDword(hKey, L"Attempt", kind == BootAttempt::kWritten ? kBootWritten : kBootInterrupted);
  if (result == ERROR_SUCCESS)
    result = SetString(hKey, L"ImageSha256", std::wstring(imageSha256.begin(), imageSha256.end()));
  if (result == ERROR_SUCCESS) result = SetString(hKey, L"Time", Iso8601Utc(now));
  ::RegCloseKey(hKey);
  return result == ERROR_SUCCESS;
}
