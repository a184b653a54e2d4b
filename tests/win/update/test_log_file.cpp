// The log's path walked on the real file system: a part reported as a link
// (Wine makes no junctions or symbolic links, so the seam reports it), a
// device's name, a plain path; a refused path leaves no file behind; the
// folders of an open log cannot be moved by another process.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "app/run_log.h"
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
  { std::ofstream((top + L"\\note.txt").c_str()) << "a file where a folder should be"; }
  const struct {
    std::wstring path, link, created;
    LogPathVerdict verdict;
  } rows[] = {
      {log, top, log, LogPathVerdict::kThroughLink},                   // an early part
      {log, top + L"\\a", log, LogPathVerdict::kThroughLink},          // a middle part
      {L"\\\\.\\" + log, L"", log, LogPathVerdict::kDeviceNamespace},  // the same file, as a device path
      {L"\\\\.\\pipe\\tbt-logwalk", L"", L"", LogPathVerdict::kDeviceNamespace},
      {top + L"\\none\\run.log", L"", top + L"\\none", LogPathVerdict::kNoFolder},
      {top + L"\\note.txt\\run.log", L"", top + L"\\note.txt\\run.log", LogPathVerdict::kNotAFolder},
      {top + L"\\a\\b", L"", L"", LogPathVerdict::kNotAFile},  // a folder named as the log
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
    CRunLogFile longForm(L"\\\\?\\" + log);  // the same path spelt \\?\C:\...
    EXPECT_TRUE(longForm.IsOpen());
  }
  {
    CRunLogFile linked(log, ReportLink);
    EXPECT_FALSE(linked.IsOpen());
    EXPECT_EQ(linked.Check().verdict, LogPathVerdict::kThroughLink);
  }
  ::DeleteFileW(log.c_str());
  ::DeleteFileW((top + L"\\note.txt").c_str());
  ::RemoveDirectoryW((top + L"\\a\\b").c_str());
  ::RemoveDirectoryW((top + L"\\a").c_str());
  ::RemoveDirectoryW(top.c_str());
}

// Another process (cmd's move) renames `from` to `to`; whether it did.
bool MovedByAnotherProcess(const std::wstring& from, const std::wstring& to) {
  std::wstring line = L"cmd.exe /c move \"" + from + L"\" \"" + to + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                        &pi))
    return false;
  ::WaitForSingleObject(pi.hProcess, 60000);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return !Exists(from) && Exists(to);
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LogFile, TheFoldersOfAnOpenLogCannotBeMoved) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring top = std::wstring(temp) + L"tbt-loghold";
  const std::wstring a = top + L"\\a", b = a + L"\\b", log = b + L"\\run.log";
  ::CreateDirectoryW(top.c_str(), nullptr);
  ::CreateDirectoryW(a.c_str(), nullptr);
  ::CreateDirectoryW(b.c_str(), nullptr);
  { std::ofstream(log.c_str(), std::ios::binary) << "earlier run\r\n"; }
  {
    CRunLogFile file(log);
    ASSERT_TRUE(file.IsOpen());
    {
      CRunLogFile second(log);  // keeps none, and leaves the open one open
      EXPECT_FALSE(second.IsOpen());
    }
    RunLog("held-folders check");
    for (const std::wstring& folder : {a, b}) {
      SCOPED_TRACE(std::string(folder.begin(), folder.end()));
      const std::wstring moved = folder + L"-moved";
      EXPECT_FALSE(MovedByAnotherProcess(folder, moved)) << "a folder of the open log was renamed";
      if (Exists(moved)) ::MoveFileW(moved.c_str(), folder.c_str());
    }
  }
  // Appended to the file the path names, in its own folder.
  const std::string text = ReadAll(log);
  EXPECT_EQ(text.rfind("earlier run\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("] held-folders check\r\n"), std::string::npos) << text;
  // Let go once the log is closed.
  EXPECT_TRUE(MovedByAnotherProcess(a, top + L"\\a-moved"));
  const std::wstring movedLog = top + L"\\a-moved\\b\\run.log";
  ::DeleteFileW(movedLog.c_str());
  ::DeleteFileW(log.c_str());
  for (const std::wstring& folder : {top + L"\\a-moved\\b", top + L"\\a-moved", b, a, top})
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace
