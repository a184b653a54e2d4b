#include "update/attempt_record.h"

#include <cwchar>

namespace {

LONG SetDword(HKEY hKey, const wchar_t* name, uint32_t value) {
  const DWORD data = value;
  return ::RegSetValueExW(hKey, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
}

LONG SetString(HKEY hKey, const wchar_t* name, const std::wstring& value) {
  return ::RegSetValueExW(hKey, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
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
    keep(SetDword(hKey, L"LastAttemptImageVersion", record.imageVersion));
    keep(SetString(hKey, L"LastAttemptImageSha256",
                   std::wstring(record.imageSha256.begin(), record.imageSha256.end())));
    keep(SetDword(hKey, L"ControllerVersion", record.controllerVersion));
    keep(SetString(hKey, L"LastAttemptTime", time));
  }
  ::RegCloseKey(hKey);
  return result;
}
