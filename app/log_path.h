// Where the support log may go. The program runs elevated, and the folders on
// a log's path may be writable by people who could not write the log's target:
// a folder of the path replaced by a junction or a symbolic link would aim the
// administrator's log anywhere. So every part of the path is looked at as it
// is, never followed, and the log goes only where its path says.
#pragma once

#include <string>

// One part of a path as the file system reports it for that part itself.
struct LogPathPart {
  bool exists = false;
  bool directory = false;
  bool reparsePoint = false;  // a junction, a symbolic link, a mount point
};

// Reports on one path, a prefix of the log's path ending at a part. The
// program opens each part without following it; tests report parts that the
// platform under test cannot make.
class ILogPathProbe {
 public:
  virtual ~ILogPathProbe() = default;
  virtual LogPathPart Probe(const std::wstring& path) = 0;
};

enum class LogPathVerdict {
  kAccepted,
  kNotFullPath,      // not a drive's or a share's full path
  kDeviceNamespace,  // \\.\..., \\?\GLOBALROOT..., pipes, devices: no file
  kThroughLink,      // a part is a reparse point
  kNoFolder,         // a folder of the path does not exist (none is made)
  kNotAFolder,       // a part before the last is a file
  kNotAFile,         // the last part is a folder, or the path ends in one
};

struct LogPathCheck {
  LogPathVerdict verdict = LogPathVerdict::kAccepted;
  std::wstring part;  // the path up to the part refused
};

// Checks a full path (as GetFullPathNameW makes it) part by part: the root
// (a drive, or a share's \\server\share) as it is, each folder after it,
// then the file, which need not exist yet.
LogPathCheck CheckLogPath(const std::wstring& fullPath, ILogPathProbe& probe);

// Why a path was refused, in words for the console.
const char* LogPathVerdictText(LogPathVerdict verdict);
