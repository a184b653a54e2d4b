#include "app/run_log_file.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "app/run_log.h"

namespace {

HANDLE g_hFile = INVALID_HANDLE_VALUE;
std::mutex g_mutex;  // the window's thread and the worker both log

void WriteEvent(const std::string& event) {
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ ", now.wYear, now.wMonth, now.wDay,
                now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
  const std::string line = stamp + event + "\r\n";
  std::lock_guard<std::mutex> lock(g_mutex);
  DWORD written = 0;
  ::WriteFile(g_hFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

CRunLogFile::CRunLogFile(const std::wstring& path) {
  if (path.empty() || g_hFile != INVALID_HANDLE_VALUE) return;
  // Appended, and readable (even deletable) by others while the run goes on.
  g_hFile =
      ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (g_hFile != INVALID_HANDLE_VALUE) SetRunLogSink(WriteEvent);
}

CRunLogFile::~CRunLogFile() {
  if (g_hFile == INVALID_HANDLE_VALUE) return;
  SetRunLogSink(nullptr);
  ::CloseHandle(g_hFile);
  g_hFile = INVALID_HANDLE_VALUE;
}

bool CRunLogFile::IsOpen() const {
  return g_hFile != INVALID_HANDLE_VALUE;
}
