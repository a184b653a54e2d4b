#include "app/run_log_file.h"

#include <windows.h>

#include <cstdio>
#include <mutex>
#include <vector>

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

// Opens each part of the log's path itself, never what it points at, and
// keeps every folder open without delete sharing until the log is created:
// none of them can be renamed away and replaced by a link in between.
class CHeldPathProbe : public ILogPathProbe {
 public:
  explicit CHeldPathProbe(LogPathFilter pfnFilter) : m_pfnFilter(pfnFilter) {}
  ~CHeldPathProbe() override {
    for (HANDLE h : m_held) ::CloseHandle(h);
  }
  CHeldPathProbe(const CHeldPathProbe&) = delete;
  CHeldPathProbe& operator=(const CHeldPathProbe&) = delete;

  LogPathPart Probe(const std::wstring& path) override {
    LogPathPart part;
    const HANDLE h =
        ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      FILE_ATTRIBUTE_TAG_INFO info{};
      part.exists = true;
      if (::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) {
        part.directory = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        part.reparsePoint = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.ReparseTag != 0;
      } else {
        part.reparsePoint = true;  // what cannot be looked at is not trusted
      }
      m_held.push_back(h);
    } else if (::GetLastError() != ERROR_FILE_NOT_FOUND && ::GetLastError() != ERROR_PATH_NOT_FOUND) {
      // There, but not to be opened as it is (a pipe, a device, no access).
      part.exists = true;
      part.reparsePoint = true;
    }
    if (m_pfnFilter) m_pfnFilter(path, part);
    return part;
  }

 private:
  LogPathFilter m_pfnFilter;
  std::vector<HANDLE> m_held;
};

std::wstring FullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  for (int i = 0; i < 3; ++i) {
    const DWORD n = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
    if (n == 0) return {};
    if (n < full.size()) {
      full.resize(n);
      return full;
    }
    full.resize(n);
  }
  return {};
}

}  // namespace

CRunLogFile::CRunLogFile(const std::wstring& path, LogPathFilter pfnFilter) {
  if (path.empty() || g_hFile != INVALID_HANDLE_VALUE) return;
  // Checked before anything is created: a refused path leaves no file.
  const std::wstring full = FullPath(path);
  CHeldPathProbe probe(pfnFilter);
  m_check = CheckLogPath(full, probe);
  if (full.empty()) m_check.verdict = LogPathVerdict::kNotFullPath;
  if (m_check.verdict != LogPathVerdict::kAccepted) return;
  // Appended, and readable (even deletable) by others while the run goes on.
  // The last part is opened as it is, never followed: a link put there since
  // the check is opened itself, and refused below.
  const HANDLE hFile =
      ::CreateFileW(full.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) return;
  if (!IsPlainFile(hFile)) {
    ::CloseHandle(hFile);
    m_check.verdict = LogPathVerdict::kThroughLink;
    m_check.part = full;
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
