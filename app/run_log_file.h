// The support log on disk: UTF-8 lines appended to the file named with /l=,
// each led by its time in ISO 8601 (UTC) and the process id, so runs that
// share one file can be told apart. A log that cannot be opened or written is
// simply not kept, or stops; it never changes the outcome of a run.
#pragma once

#include <string>
#include <vector>

#include "app/log_path.h"

// Changes what the file system reported for one part of the path: the seam
// through which tests give parts the platform cannot make (Wine makes no
// junctions or symbolic links).
using LogPathFilter = void (*)(const std::wstring& path, LogPathPart& part);

class CRunLogFile {
 public:
  // Opens (or creates) the file and makes it the run's log; an empty path
  // keeps no log. The program runs elevated: a path with a symbolic link, a
  // junction or a mount point in any part, a device's or a pipe's name, or a
  // last part that is a file with a second name is refused before anything
  // is created, so nobody can aim the log at a file they could not write
  // themselves. A share's path (\\server\share\...) is taken. Every folder
  // of the path stays held (neither renamed nor deleted) while the log is open.
  // While one is open a second keeps no log and leaves the first as it is.
  explicit CRunLogFile(const std::wstring& path, LogPathFilter pfnFilter = nullptr);
  ~CRunLogFile();
  CRunLogFile(const CRunLogFile&) = delete;
  CRunLogFile& operator=(const CRunLogFile&) = delete;

  bool IsOpen() const;
  // Why a path was not taken (kAccepted when it was, or none was given).
  const LogPathCheck& Check() const { return m_check; }

 private:
  LogPathCheck m_check;
  std::vector<void*> m_heldFolders;  // handles: the root, then each folder down to the log's
  bool m_bOwner = false;             // this object opened the run's log
};
