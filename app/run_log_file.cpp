#include "app/run_log_file.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

#include "app/run_log.h"

namespace {

HANDLE g_hFile = INVALID_HANDLE_VALUE;
std::mutex g_mutex;  // the window's thread and the worker both log

// The appending handle may not shorten the file; a second one on the same
// file (never reopened by name) may.
void DropCutLine(DWORD written) {
  const HANDLE hWrite = ::ReOpenFile(g_hFile, FILE_WRITE_DATA | FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
  if (hWrite == INVALID_HANDLE_VALUE) return;
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(hWrite, &size) && size.QuadPart >= written) {
    size.QuadPart -= written;
    if (::SetFilePointerEx(hWrite, size, nullptr, FILE_BEGIN)) ::SetEndOfFile(hWrite);
  }
  ::CloseHandle(hWrite);
}

void WriteEvent(const std::string& event) {
  SYSTEMTIME now{};
  ::GetSystemTime(&now);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ [%lu] ", now.wYear, now.wMonth,
                now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                static_cast<unsigned long>(::GetCurrentProcessId()));
  // One write per line: appends of other processes never land inside it.
  const std::string line = stamp + event + "\r\n";
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_hFile == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  if (::WriteFile(g_hFile, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
      written == line.size())
    return;
  // A full disk or a vanished share: take back the part of the line that
  // went out, so the log ends with the last whole line, and keep no more.
  if (written > 0) DropCutLine(written);
  SetRunLogSink(nullptr);
  ::CloseHandle(g_hFile);
  g_hFile = INVALID_HANDLE_VALUE;
}

void FlushEvents() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_hFile != INVALID_HANDLE_VALUE) ::FlushFileBuffers(g_hFile);
}

// The opened file itself, not whatever its name pointed at when looked up.
bool IsPlainFile(HANDLE hFile) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(hFile, &info)) return false;
  // A link or junction, a folder, or a file that another name also reaches.
  const DWORD kNotPlain = FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY;
  return (info.dwFileAttributes & kNotPlain) == 0 && info.nNumberOfLinks == 1;
}

}  // namespace

CRunLogFile::CRunLogFile(const std::wstring& path) {
  if (path.empty() || g_hFile != INVALID_HANDLE_VALUE) return;
  // Appended, and readable (even deletable) by others while the run goes on.
  // The last part of the path is opened as it is, never followed.
  const HANDLE hFile =
      ::CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return;
  if (!IsPlainFile(hFile)) {
    ::CloseHandle(hFile);
    return;
  }
  g_hFile = hFile;
  SetRunLogSink(WriteEvent);
  SetRunLogFlush(FlushEvents);
}

CRunLogFile::~CRunLogFile() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_hFile == INVALID_HANDLE_VALUE) return;
  SetRunLogSink(nullptr);
  SetRunLogFlush(nullptr);
  ::CloseHandle(g_hFile);
  g_hFile = INVALID_HANDLE_VALUE;
}

bool CRunLogFile::IsOpen() const {
  return g_hFile != INVALID_HANDLE_VALUE;
}
