#include "app/run_log_file.h"

#include <windows.h>
#include <winternl.h>

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

// A folder held so that it can be neither renamed nor deleted: opened for
// listing and traversal without delete sharing, so any open for DELETE (which
// a rename or a delete needs) fails with a sharing violation. A handle with
// only FILE_READ_ATTRIBUTES (or SYNCHRONIZE, READ_CONTROL) takes no part in
// sharing checks and holds nothing: the folder could be renamed away and a
// link put in its place.
constexpr ACCESS_MASK kFolderHold = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

constexpr NTSTATUS kObjectNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kObjectPathNotFound = static_cast<NTSTATUS>(0xC000003A);

// Opens `name`, one part of a path, inside the folder `hFolder` holds: the
// part is looked up there, never through the path's other parts by name.
NTSTATUS OpenInFolder(HANDLE hFolder, const std::wstring& name, ACCESS_MASK access, ULONG share,
                      ULONG disposition, ULONG options, HANDLE& hPart) {
  hPart = INVALID_HANDLE_VALUE;
  if (name.empty() || name.size() * sizeof(wchar_t) > 0xFFFE) return kObjectNameNotFound;
  UNICODE_STRING ntName{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                        static_cast<USHORT>(name.size() * sizeof(wchar_t)), const_cast<PWSTR>(name.c_str())};
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &ntName, OBJ_CASE_INSENSITIVE, hFolder, nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE h = nullptr;
  const NTSTATUS status =
      NtCreateFile(&h, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
                   options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (NT_SUCCESS(status)) hPart = h;
  return status;
}

// What an open part is: a folder, and a reparse point (a link, a junction, a
// mount point), from the handle itself.
bool DescribePart(HANDLE h, LogPathPart& part) {
  FILE_ATTRIBUTE_TAG_INFO info{};
  part.exists = true;
  if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &info, sizeof info)) {
    part.reparsePoint = true;  // what cannot be looked at is not trusted
    return false;
  }
  part.directory = (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  part.reparsePoint = (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.ReparseTag != 0;
  return true;
}

// Opens each part of the log's path itself, never what it points at, each
// inside the folder before it, and holds every folder (see kFolderHold): only
// the root (a drive or a share) is opened by its name. None of the folders can
// then be renamed away and replaced by a link while the log is created in the
// last one, or while it is open.
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
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || !HoldParent(path.substr(0, slash + 1))) {
      part.exists = part.reparsePoint = true;  // a folder before it that is not held is not trusted
    } else {
      ProbeIn(m_held.back(), path, path.substr(slash + 1), part);
    }
    if (m_pfnFilter) m_pfnFilter(path, part);
    return part;
  }

  // The folder the log goes in, held, when `path`'s parent is the last folder
  // held; null otherwise.
  HANDLE FolderOf(const std::wstring& path) const {
    const size_t slash = path.rfind(L'\\');
    if (slash == std::wstring::npos || m_held.empty() || path.compare(0, slash + 1, m_heldPrefix) != 0)
      return nullptr;
    return m_held.back();
  }

  // Hands the held folders over to whoever keeps them open from now on.
  std::vector<void*> Release() {
    std::vector<void*> held;
    held.swap(m_held);
    m_heldPrefix.clear();
    return held;
  }

 private:
  // `parent` (ending in a backslash) is the last folder held, or the root,
  // which is then opened by its name and held.
  bool HoldParent(const std::wstring& parent) {
    if (!m_held.empty()) return parent == m_heldPrefix;
    const HANDLE hRoot = ::CreateFileW(parent.c_str(), kFolderHold, kFolderShare, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (hRoot == INVALID_HANDLE_VALUE) return false;
    m_held.push_back(hRoot);
    m_heldPrefix = parent;
    return true;
  }

  void ProbeIn(HANDLE hFolder, const std::wstring& path, const std::wstring& name, LogPathPart& part) {
    HANDLE h = INVALID_HANDLE_VALUE;
    NTSTATUS status =
        OpenInFolder(hFolder, name, kFolderHold, kFolderShare, FILE_OPEN, FILE_DIRECTORY_FILE, h);
    if (NT_SUCCESS(status)) {
      if (DescribePart(h, part) && part.directory && !part.reparsePoint) {
        m_held.push_back(h);
        m_heldPrefix = path + L"\\";
        return;
      }
      ::CloseHandle(h);
      part.reparsePoint = true;  // a folder that is not one, or a link: not held
      return;
    }
    if (status == kObjectNameNotFound || status == kObjectPathNotFound) return;  // not there
    // Not a folder (the log file itself, or a file where a folder should be),
    // or a folder that cannot be held: looked at, not held.
    status = OpenInFolder(hFolder, name, FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN, 0, h);
    if (!NT_SUCCESS(status)) {
      // There, but not to be opened as it is (a pipe, a device, no access).
      part.exists = part.reparsePoint = true;
      return;
    }
    // A folder here is one that refused the hold: not trusted either.
    if (DescribePart(h, part) && part.directory) part.reparsePoint = true;
    ::CloseHandle(h);
  }

  LogPathFilter m_pfnFilter;
  std::vector<HANDLE> m_held;  // the root, then each folder below it
  std::wstring m_heldPrefix;   // the path of the last one held, ending in a backslash
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
  // Created inside the last folder held, by its own name only. Appended, and
  // readable (even deletable) by others while the run goes on. The file is
  // opened as it is, never followed: a link put there since the check is
  // opened itself, and refused below.
  const HANDLE hFolder = probe.FolderOf(full);
  HANDLE hFile = INVALID_HANDLE_VALUE;
  if (!hFolder || !NT_SUCCESS(OpenInFolder(hFolder, full.substr(full.rfind(L'\\') + 1),
                                           FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE, hFile)))
    return;
  if (!IsPlainFile(hFile)) {
    ::CloseHandle(hFile);
    m_check.verdict = LogPathVerdict::kThroughLink;
    m_check.part = full;
    return;
  }
  g_hFile = hFile;
  m_bOwner = true;
  m_heldFolders = probe.Release();
  SetRunLogSink(WriteEvent);
  SetRunLogFlush(FlushEvents);
}

CRunLogFile::~CRunLogFile() {
  // A second object, made while a log was open, kept none: the open one is
  // not its to close.
  if (m_bOwner) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_hFile != INVALID_HANDLE_VALUE) {
      SetRunLogSink(nullptr);
      SetRunLogFlush(nullptr);
      ::CloseHandle(g_hFile);
      g_hFile = INVALID_HANDLE_VALUE;
    }
  }
  // The folders are let go only once the log is closed.
  for (HANDLE h : m_heldFolders) ::CloseHandle(h);
}

bool CRunLogFile::IsOpen() const {
  return m_bOwner && g_hFile != INVALID_HANDLE_VALUE;
}
