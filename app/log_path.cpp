#include "app/log_path.h"

#include <cwctype>

namespace {

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
  return text.compare(0, std::wstring(prefix).size(), prefix) == 0;
}

bool IsDriveRoot(const std::wstring& path, size_t at) {
  return path.size() >= at + 3 && std::iswalpha(static_cast<wint_t>(path[at])) && path[at + 1] == L':' &&
         path[at + 2] == L'\\';
}

// The end of a share's root "server\share\" that starts at `at`; 0 when there
// is no server or no share.
size_t ShareRootEnd(const std::wstring& path, size_t at) {
  const size_t serverEnd = path.find(L'\\', at);
  if (serverEnd == std::wstring::npos || serverEnd == at) return 0;
  const size_t shareEnd = path.find(L'\\', serverEnd + 1);
  if (shareEnd == std::wstring::npos || shareEnd == serverEnd + 1) return 0;
  return shareEnd + 1;
}

// The length of the path's root, or 0 with the verdict that refuses it.
size_t RootLength(const std::wstring& path, LogPathVerdict& verdict) {
  verdict = LogPathVerdict::kAccepted;
  if (IsDriveRoot(path, 0)) return 3;
  if (StartsWith(path, L"\\\\?\\")) {
    if (IsDriveRoot(path, 4)) return 7;
    if (path.size() > 8 && (path[4] == L'U' || path[4] == L'u') && (path[5] == L'N' || path[5] == L'n') &&
        (path[6] == L'C' || path[6] == L'c') && path[7] == L'\\') {
      if (const size_t end = ShareRootEnd(path, 8)) return end;
      verdict = LogPathVerdict::kNotFullPath;
      return 0;
    }
    // \\?\GLOBALROOT\Device\..., \\?\Volume{...}\, \\?\pipe\...
    verdict = LogPathVerdict::kDeviceNamespace;
    return 0;
  }
  if (StartsWith(path, L"\\\\.\\") || StartsWith(path, L"\\??\\") || StartsWith(path, L"\\\\.") ||
      StartsWith(path, L"\\\\?")) {
    verdict = LogPathVerdict::kDeviceNamespace;
    return 0;
  }
  if (StartsWith(path, L"\\\\")) {
    if (const size_t end = ShareRootEnd(path, 2)) return end;
  }
  verdict = LogPathVerdict::kNotFullPath;
  return 0;
}

}  // namespace

LogPathCheck CheckLogPath(const std::wstring& fullPath, ILogPathProbe& probe) {
  LogPathCheck check;
  const size_t root = RootLength(fullPath, check.verdict);
  if (root == 0) {
    check.part = fullPath;
    return check;
  }
  size_t start = root;
  for (;;) {
    const size_t end = fullPath.find(L'\\', start);
    const bool last = end == std::wstring::npos;
    const std::wstring name = fullPath.substr(start, last ? std::wstring::npos : end - start);
    check.part = fullPath.substr(0, last ? fullPath.size() : end);
    // A full path names every part once: no empty, "." or ".." part.
    if (name.empty() || name == L"." || name == L"..") {
      check.verdict = last ? LogPathVerdict::kNotAFile : LogPathVerdict::kNotFullPath;
      return check;
    }
    const LogPathPart part = probe.Probe(check.part);
    if (part.exists && part.reparsePoint) {
      check.verdict = LogPathVerdict::kThroughLink;
      return check;
    }
    if (last) {
      check.verdict = part.exists && part.directory ? LogPathVerdict::kNotAFile : LogPathVerdict::kAccepted;
      return check;
    }
    if (!part.exists) {
      check.verdict = LogPathVerdict::kNoFolder;
      return check;
    }
    if (!part.directory) {
      check.verdict = LogPathVerdict::kNotAFolder;
      return check;
    }
    start = end + 1;
  }
}

const char* LogPathVerdictText(LogPathVerdict verdict) {
  switch (verdict) {
    case LogPathVerdict::kAccepted: return "accepted";
    case LogPathVerdict::kNotFullPath: return "not a full path of a drive or a share";
    case LogPathVerdict::kDeviceNamespace:
      return "a device, pipe or volume name, not a file on a drive or share";
    case LogPathVerdict::kThroughLink: return "a junction, symbolic link or mount point on the path";
    case LogPathVerdict::kNoFolder: return "a folder of the path does not exist";
    case LogPathVerdict::kNotAFolder: return "a part of the path is a file, not a folder";
    case LogPathVerdict::kNotAFile: return "the path names a folder, not a file";
  }
  return "refused";
}
