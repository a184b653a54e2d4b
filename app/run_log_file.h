// The support log on disk: UTF-8 lines appended to the file named with /l=,
// each led by its time in ISO 8601 (UTC). A log that cannot be opened or
// written is simply not kept; it never changes the outcome of a run.
#pragma once

#include <string>

class CRunLogFile {
 public:
  // Opens (or creates) the file and makes it the run's log; an empty path
  // keeps no log.
  explicit CRunLogFile(const std::wstring& path);
  ~CRunLogFile();
  CRunLogFile(const CRunLogFile&) = delete;
  CRunLogFile& operator=(const CRunLogFile&) = delete;

  bool IsOpen() const;
};
