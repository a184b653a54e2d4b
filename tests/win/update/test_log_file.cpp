// The log's path walked on the real file system: a part reported as a link
// (Wine makes no junctions or symbolic links, so the seam reports it), a
// device's name, a plain path; a refused path leaves no file behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/run_log_file.h"

namespace {

std::wstring g_strLinkPart;  // the part the file system "reports" as a junction

void ReportLink(const std::wstring& path, LogPathPart& part) {
  if (path == g_strLinkPart) part.reparsePoint = true;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(LogFile, ARefusedPathLeavesNoFile) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring top = std::wstring(temp) + L"tbt-logwalk";
  ::CreateDirectoryW(top.c_str(), nullptr);
  ::CreateDirectoryW((top + L"\\a").c_str(), nullptr);
  ::CreateDirectoryW((top + L"\\a\\b").c_str(), nullptr);
  const std::wstring log = top + L"\\a\\b\\run.log";
  const struct {
    std::wstring path, link, created;
    LogPathVerdict verdict;
  } rows[] = {
      {log, top, log, LogPathVerdict::kThroughLink},                   // an early part
      {log, top + L"\\a", log, LogPathVerdict::kThroughLink},          // a middle part
      {L"\\\\.\\" + log, L"", log, LogPathVerdict::kDeviceNamespace},  // the same file, as a device path
      {L"\\\\.\\pipe\\tbt-logwalk", L"", L"", LogPathVerdict::kDeviceNamespace},
      {top + L"\\none\\run.log", L"", top + L"\\none", LogPathVerdict::kNoFolder},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.path.begin(), row.path.end()));
    ::DeleteFileW(log.c_str());
    g_strLinkPart = row.link;
    {
      CRunLogFile file(row.path, ReportLink);
      EXPECT_FALSE(file.IsOpen());
      EXPECT_EQ(file.Check().verdict, row.verdict);
    }
    if (!row.created.empty()) {
      EXPECT_FALSE(Exists(row.created));
    }
  }
  // The last part: an existing file reported as a link is left as it was.
  g_strLinkPart = log;
  {
    CRunLogFile plain(log);  // nothing reported: taken
    EXPECT_TRUE(plain.IsOpen());
  }
  {
    CRunLogFile linked(log, ReportLink);
    EXPECT_FALSE(linked.IsOpen());
    EXPECT_EQ(linked.Check().verdict, LogPathVerdict::kThroughLink);
  }
  ::DeleteFileW(log.c_str());
  ::RemoveDirectoryW((top + L"\\a\\b").c_str());
  ::RemoveDirectoryW((top + L"\\a").c_str());
  ::RemoveDirectoryW(top.c_str());
}

}  // namespace
