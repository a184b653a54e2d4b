// The support log on disk: UTF-8 lines appended to the file named with /l=,
// each led by its time in ISO 8601 (UTC) and the process id, so runs that
// share one file can be told apart. A log that cannot be opened or written is
// simply not kept, or stops; it never changes the outcome of a run.
#pragma once

#include <string>

class CRunLogFile {
 public:
  // Opens (or creates) the file and makes it the run's log; an empty path
  // keeps no log. The program runs elevated: a path whose last part is a
  // symbolic link, a junction or a file with a second name is not followed,
  // so nobody can aim the log at a file they could not write themselves.
  explicit CRunLogFile(const std::wstring& path);
  ~CRunLogFile();
  CRunLogFile(const CRunLogFile&) = delete;
  CRunLogFile& operator=(const CRunLogFile&) = delete;

  bool IsOpen() const;
};
