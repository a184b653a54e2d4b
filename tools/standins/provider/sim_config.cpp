#include "tools/standins/provider/sim_config.h"

#include <cerrno>
#include <cstdio>
#include <cwchar>

namespace {

constexpr wchar_t kDefaultDir[] = L"C:\\tbtsim";
constexpr wchar_t kSection[] = L"Provider";
// Real controller ids are device-instance paths, so the default carries backslashes.
constexpr wchar_t kDefaultControllerId[] = L"TBT\\NHI_SIM\\4&1D7B6F3C&0&00";

SRWLOCK g_recordLock = SRWLOCK_INIT;

std::wstring ReadIni(const std::wstring& ini, const wchar_t* key) {
  wchar_t value[1024] = {};
  GetPrivateProfileStringW(kSection, key, L"", value, 1024, ini.c_str());
  return value;
}

bool IsAbsolute(const std::wstring& path) {
  return (path.size() > 1 && path[1] == L':') || (!path.empty() && path[0] == L'\\');
}

bool LoadFile(const std::wstring& path, std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart >= 0 && size.QuadPart <= 64 * 1024 * 1024;
  if (ok) {
    bytes.assign(static_cast<size_t>(size.QuadPart), 0);
    DWORD done = 0;
    ok = bytes.empty() || (ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr) &&
                           done == bytes.size());
  }
  CloseHandle(file);
  return ok;
}

}  // namespace

std::wstring SimDir() {
  wchar_t dir[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(L"TBTSIM_DIR", dir, MAX_PATH);
  std::wstring result = (n > 0 && n < MAX_PATH) ? std::wstring(dir, n) : std::wstring(kDefaultDir);
  while (result.size() > 3 && result.back() == L'\\') result.pop_back();
  return result;
}

std::optional<uint32_t> SimParseNumber(const std::wstring& text) {
  if (text.empty()) return std::nullopt;
  const wchar_t* begin = text.c_str();
  wchar_t* end = nullptr;
  errno = 0;
  unsigned long long value = wcstoull(begin, &end, 0);
  if (end == begin || *end != L'\0' || errno != 0 || value > 0xFFFFFFFFull || begin[0] == L'-') {
    return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

std::shared_ptr<const SimConfig> SimLoadConfig() {
  auto config = std::make_shared<SimConfig>();
  config->dir = SimDir();
  const std::wstring ini = config->dir + L"\\provider.ini";

  config->controllerId = ReadIni(ini, L"ControllerId");
  if (config->controllerId.empty()) config->controllerId = kDefaultControllerId;
  if (auto n = SimParseNumber(ReadIni(ini, L"Controllers"))) config->controllers = *n > 4 ? 4 : *n;
  if (auto n = SimParseNumber(ReadIni(ini, L"NvmVersion"))) config->nvmVersion = *n;
  if (auto n = SimParseNumber(ReadIni(ini, L"LatencyMs"))) config->latencyMs = *n;
  if (auto n = SimParseNumber(ReadIni(ini, L"UpdateLatencyMs"))) config->updateLatencyMs = *n;
  config->failVersion = SimParseNumber(ReadIni(ini, L"FailGetCurrentNvmVersion"));
  config->failRead = SimParseNumber(ReadIni(ini, L"FailReadFirmware"));
  config->failUpdate = SimParseNumber(ReadIni(ini, L"FailUpdateFirmware"));
  config->shortRead = SimParseNumber(ReadIni(ini, L"ShortReadFirmware"));
  config->omitReadData = SimParseNumber(ReadIni(ini, L"OmitReadData")).value_or(0) != 0;
  config->omitNvmVersion = SimParseNumber(ReadIni(ini, L"OmitNvmVersion")).value_or(0) != 0;
  config->failPut = ReadIni(ini, L"FailPut");
  config->faultAfter = SimParseNumber(ReadIni(ini, L"FaultAfter"));
  const std::wstring callFault = ReadIni(ini, L"UpdateCallFault");
  if (_wcsicmp(callFault.c_str(), L"exec") == 0) config->updateCallFault = SimCallFault::kExec;
  if (_wcsicmp(callFault.c_str(), L"noreturn") == 0) config->updateCallFault = SimCallFault::kNoReturn;

  std::wstring nvm = ReadIni(ini, L"NvmFile");
  if (nvm.empty()) nvm = L"nvm.bin";
  config->nvmPath = IsAbsolute(nvm) ? nvm : config->dir + L"\\" + nvm;
  config->nvmLoaded = LoadFile(config->nvmPath, config->nvm);
  if (!config->nvmLoaded) config->nvm.clear();
  return config;
}

void SimRecord(const std::wstring& dir, const std::string& text) {
  SimRecordIn(dir + L"\\provider.log", text);
}

void SimRecordIn(const std::wstring& path, const std::string& text) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER ticks{};
  ticks.LowPart = now.dwLowDateTime;
  ticks.HighPart = now.dwHighDateTime;
  // 100 ns ticks since 1601 to milliseconds since 1970.
  uint64_t ms = (ticks.QuadPart - 116444736000000000ull) / 10000;
  char stamp[48];
  snprintf(stamp, sizeof stamp, "t=%llu.%03u ", static_cast<unsigned long long>(ms / 1000),
           static_cast<unsigned>(ms % 1000));
  std::string line = stamp + text + "\n";

  AcquireSRWLockExclusive(&g_recordLock);
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD done = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
    CloseHandle(file);
  }
  ReleaseSRWLockExclusive(&g_recordLock);
}

bool SimWriteFile(const std::wstring& path, const uint8_t* bytes, size_t size) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD done = 0;
  bool ok = size == 0 || (WriteFile(file, bytes, static_cast<DWORD>(size), &done, nullptr) && done == size);
  CloseHandle(file);
  return ok;
}
