#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/log_path.h"
#include "app/options.h"
#include "app/run_log.h"
#include "app/status.h"
#include "tests/core/log_read_back.h"

namespace {

struct OptionsResult {
  int32_t downgradable;
  uint16_t langId;
};

OptionsResult Parse(std::vector<const wchar_t*> args) {
  args.insert(args.begin(), L"C:\\tool\\TbtFwUpdate.exe");
  OptionsResult r{0, 0x0409};
  EXPECT_TRUE(ParseOptions(static_cast<int>(args.size()), args.data(), r.downgradable, r.langId));
  return r;
}

TEST(ParseOptions, NoArgumentsKeepDefaults) {
  int32_t downgradable = 0;
  uint16_t langId = 0x0409;
  const wchar_t* argv[] = {L"TbtFwUpdate.exe"};
  EXPECT_TRUE(ParseOptions(1, argv, downgradable, langId));
  EXPECT_TRUE(ParseOptions(0, nullptr, downgradable, langId));
  EXPECT_EQ(downgradable, 0);
  EXPECT_EQ(langId, 0x0409);
}

TEST(ParseOptions, DowngradableIsWholeWordCaseInsensitive) {
  struct Case {
    const wchar_t* arg;
    int32_t expected;
  } cases[] = {
      {L"/downgradable", 1}, {L"/DOWNGRADABLE", 1}, {L"/Downgradable", 1}, {L"/downgradable=1", 0},
      {L"-downgradable", 0}, {L"downgradable", 0},  {L"/downgradabl", 0},  {L"/downgradablee", 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Parse({c.arg}).downgradable, c.expected) << std::wstring(c.arg).size();
}

TEST(ParseOptions, LanguageIdFollowsHexConversionRules) {
  struct Case {
    const wchar_t* arg;
    uint16_t expected;
  } cases[] = {
      {L"/LID:411", 0x0411},
      {L"/lid:0X0C04", 0x0C04},
      {L"/Lid:804", 0x0804},
      {L"/LID:10411", 0x0411},
      {L"/LID:xyz", 0x0000},
      {L"/LID:-1", 0xFFFF},
      {L"/LID: 411", 0x0411},
      {L"/LID:411zz", 0x0411},
      {L"/LID:0x", 0x0000},
      {L"/LID:+804", 0x0804},
      {L"/LID:FFFFFFFFFF", 0xFFFF},   // clamped like a 32-bit long
      {L"/LID:-FFFFFFFFFF", 0x0000},  // clamped to LONG_MIN
      {L"/LID:", 0x0409},
      {L"/LIDX411", 0x0409},
      {L"/LI:411", 0x0409},
      {L"LID:411", 0x0409},
      {L"/LID411", 0x0409},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Parse({c.arg}).langId, c.expected) << "argument index " << (&c - cases);
  }
}

TEST(ParseOptions, LaterOptionWinsAndOthersAreIgnored) {
  OptionsResult r = Parse({L"/LID:411", L"/unknown", L"stray", L"/LID:804", L"/downgradable"});
  EXPECT_EQ(r.langId, 0x0804);
  EXPECT_EQ(r.downgradable, 1);
}

TEST(ParseOptions, DeploymentOptions) {
  struct Case {
    std::vector<const wchar_t*> args;
    bool silent, checkOnly, help;
    std::wstring log;
    std::wstring bad = L"";  // the argument a deployment run is refused for
  } cases[] = {
      {{}, false, false, false, L""},
      {{L"/s"}, true, false, false, L""},
      {{L"/S"}, true, false, false, L""},
      {{L"/c"}, true, true, false, L""},
      {{L"/C", L"/s"}, true, true, false, L""},
      {{L"/?"}, false, false, true, L""},
      {{L"/l=C:\\logs\\tbt.log"}, false, false, false, L"C:\\logs\\tbt.log"},
      {{L"/L=C:\\a b\\x.log", L"/s"}, true, false, false, L"C:\\a b\\x.log"},
      {{L"/l=\"C:\\a b\\x.log\""}, false, false, false, L"C:\\a b\\x.log"},
      {{L"/l=a.log", L"/l=b.log"}, false, false, false, L"b.log"},
      {{L"/l="}, false, false, false, L""},
      {{L"/l"}, false, false, false, L""},
      // The window ignores what it does not know, and keeps no log at a misread path.
      {{L"/l:x.log", L"-s", L"s", L"/silent", L"/sc", L"/??"}, false, false, false, L""},
      {{L"/l=C:\\a b\" /c"}, false, false, false, L""},
      {{L"/l=*.log", L"/l=a|b"}, false, false, false, L""},
      // A deployment run takes nothing it does not know, and nothing malformed.
      {{L"/s", L"/LID:411", L"/downgradable", L"/l=C:\\x.log", L"/?"}, true, false, true, L"C:\\x.log"},
      {{L"/s", L"/l=C:\\logs\\a b\" /c"}, true, false, false, L"", L"/l=C:\\logs\\a b\" /c"},
      {{L"/s", L"/check"}, true, false, false, L"", L"/check"},
      {{L"/c", L"stray"}, true, true, false, L"", L"stray"},
      {{L"/S", L"/l=x.log", L"-c"}, true, false, false, L"", L"-c"},
      {{L"/s", L"/l="}, true, false, false, L"", L"/l="},
      {{L"/s", L"/l=C:\\*.log"}, true, false, false, L"", L"/l=C:\\*.log"},
      {{L"/s", L"/l=C:\\a?.log"}, true, false, false, L"", L"/l=C:\\a?.log"},
      // The long-path prefix is the one '?' a path may hold, and only before a drive or UNC\.
      {{L"/s", L"/l=\\\\?\\C:\\logs\\tbt.log"}, true, false, false, L"\\\\?\\C:\\logs\\tbt.log"},
      {{L"/c", L"/l=\\\\?\\unc\\srv\\tbt$\\a.log"}, true, true, false, L"\\\\?\\unc\\srv\\tbt$\\a.log"},
      {{L"/l=\"\\\\?\\z:\\a b.log\""}, false, false, false, L"\\\\?\\z:\\a b.log"},
      {{L"/s", L"/l=\\\\?\\C:\\a?.log"}, true, false, false, L"", L"/l=\\\\?\\C:\\a?.log"},
      {{L"/s", L"/l=\\\\?\\?\\C:\\a.log"}, true, false, false, L"", L"/l=\\\\?\\?\\C:\\a.log"},
      {{L"/s", L"/l=\\\\?\\C:"}, true, false, false, L"", L"/l=\\\\?\\C:"},
      {{L"/s", L"/l=\\\\?\\UNC"}, true, false, false, L"", L"/l=\\\\?\\UNC"},
      {{L"/s", L"/l=\\\\?\\GLOBALROOT\\x.log"}, true, false, false, L"", L"/l=\\\\?\\GLOBALROOT\\x.log"},
      {{L"/s", L"/l=\\\\.\\?\\C:\\x.log"}, true, false, false, L"", L"/l=\\\\.\\?\\C:\\x.log"},
      {{L"/s", L"/l=C:\\\\?\\C:\\x.log"}, true, false, false, L"", L"/l=C:\\\\?\\C:\\x.log"},
      {{L"/l=\\\\?\\1:\\x.log"}, false, false, false, L""},
      {{L"/s", L"/LID:xyz"}, true, false, false, L"", L"/LID:xyz"},
      {{L"/s", L"/LID:10411"}, true, false, false, L"", L"/LID:10411"},
      {{L"/s", L"/LID:0x411"}, true, false, false, L""},
      {{L"/s", L"/downgradable=1"}, true, false, false, L"", L"/downgradable=1"},
      {{L"/s", L""}, true, false, false, L"", L"\"\""},
      {{L"/?", L"/s", L"/silent"}, true, false, true, L"", L"/silent"},
  };
  for (const Case& c : cases) {
    std::vector<const wchar_t*> args = c.args;
    args.insert(args.begin(), L"TbtFwUpdate.exe");
    UpdateOptions options;
    options.langId = 0x0409;
    EXPECT_TRUE(ParseOptions(static_cast<int>(args.size()), args.data(), options));
    const size_t at = &c - cases;
    EXPECT_EQ(options.silent, c.silent) << at;
    EXPECT_EQ(options.checkOnly, c.checkOnly) << at;
    EXPECT_EQ(options.help, c.help) << at;
    EXPECT_EQ(options.logPath, c.log) << at;
    EXPECT_EQ(options.badArgument, c.bad) << at;
    if (c.args.empty() || std::wstring(c.args[0]) != L"/s") {
      EXPECT_EQ(options.langId, 0x0409) << at;  // none of them is taken for a language
    }
  }
  // Beside the options every run has.
  const wchar_t* argv[] = {L"TbtFwUpdate.exe", L"/LID:411", L"/c", L"/downgradable", L"/l=x.log"};
  UpdateOptions options;
  ParseOptions(5, argv, options);
  EXPECT_EQ(options.langId, 0x0411);
  EXPECT_EQ(options.downgradable, 1);
  EXPECT_TRUE(options.checkOnly && options.silent);
  EXPECT_EQ(options.logPath, L"x.log");
}

TEST(Status, OwnCodesHaveNamesAndProviderCodesDoNot) {
  for (TbtStatus code = 0x10430001; code <= ERR_RECORD_UNWRITABLE; ++code) {
    ASSERT_NE(StatusName(code), nullptr) << std::hex << code;
    EXPECT_EQ(std::string(StatusName(code)).rfind("ERR_", 0), 0u);
  }
  EXPECT_STREQ(StatusName(STATUS_OK), "STATUS_OK");
  EXPECT_EQ(StatusName(5), nullptr);
  EXPECT_STREQ(StatusName(0x1043000E), "ERR_ALREADY_RUNNING");
  EXPECT_EQ(StatusName(0x10430017), nullptr);
  EXPECT_STREQ(StatusName(1115), "ERROR_SHUTDOWN_IN_PROGRESS");
}

TEST(Status, ResultTextKeys) {
  struct Case {
    TbtStatus status;
    const wchar_t* key;
    bool withCode;
    const wchar_t* silentKey;  // without a window
    const wchar_t* checkKey;   // check only
  } cases[] = {
      {STATUS_OK, L"IDS_SUCCESS", false, L"IDS_SUCCESS", L"IDS_CHECK_ONLY_OK"},
      {ERR_ACPI_DEVICE_MISSING, L"IDS_FIND_NO_QMX", false, L"IDS_FIND_NO_QMX", L"IDS_FIND_NO_QMX"},
      {ERR_PROVIDER_FAILED, L"IDS_FIND_NO_SW", false, L"IDS_FIND_NO_SW", L"IDS_FIND_NO_SW"},
      {ERR_DOWNGRADE_REFUSED, L"IDS_DOWNGRADE", false, L"IDS_DOWNGRADE", L"IDS_DOWNGRADE"},
      {ERR_ON_BATTERY, L"IDS_CAUTION", false, L"IDS_BATTERY_UNATTENDED", L"IDS_BATTERY_UNATTENDED"},
      {ERR_ALREADY_RUNNING, L"IDS_BUSY", false, L"IDS_BUSY", L"IDS_BUSY"},
      {ERR_IMAGE_NOT_RELEASED, L"IDS_NOT_RELEASED", false, L"IDS_NOT_RELEASED", L"IDS_NOT_RELEASED"},
      {ERR_NOT_INTERACTIVE, L"IDS_ERROR", true, L"IDS_ERROR", L"IDS_ERROR"},
      {ERR_RESTART_REQUIRED, L"IDS_RESTART_REQUIRED", false, L"IDS_RESTART_REQUIRED",
       L"IDS_RESTART_REQUIRED"},
      {ERR_OUTCOME_UNKNOWN, L"IDS_ERROR", true, L"IDS_ERROR", L"IDS_ERROR"},
      {ERR_IMAGE_MISMATCH, L"IDS_ERROR", true, L"IDS_ERROR", L"IDS_ERROR"},
      {ERR_CONTROLLER_NOT_FOUND, L"IDS_ERROR", true, L"IDS_ERROR", L"IDS_ERROR"},
      {5, L"IDS_ERROR", true, L"IDS_ERROR", L"IDS_ERROR"},
  };
  for (const Case& c : cases) {
    StatusText text = StatusTextFor(c.status);
    EXPECT_EQ(std::wcscmp(text.key, c.key), 0) << std::hex << c.status;
    EXPECT_EQ(text.withCode, c.withCode) << std::hex << c.status;
    for (bool checkOnly : {false, true}) {
      text = UnattendedStatusTextFor(c.status, checkOnly);
      EXPECT_EQ(std::wcscmp(text.key, checkOnly ? c.checkKey : c.silentKey), 0) << std::hex << c.status;
      // A text added after some Update.ini files were shipped has its English fallback.
      const bool added = std::wcscmp(text.key, L"IDS_CHECK_ONLY_OK") == 0 ||
                         std::wcscmp(text.key, L"IDS_BATTERY_UNATTENDED") == 0 ||
                         std::wcscmp(text.key, L"IDS_NOT_RELEASED") == 0 ||
                         std::wcscmp(text.key, L"IDS_RESTART_REQUIRED") == 0;
      EXPECT_EQ(text.fallback != nullptr, added) << std::hex << c.status;
      if (text.fallback) {
        EXPECT_EQ(std::wstring(text.fallback).find(L"click"), std::wstring::npos);
      }
    }
  }
}

// README's list of exit codes under "Deploying" and the table the usage text
// is written from hold the same codes.
TEST(ExitCodes, ReadmeListsEveryCodeOfTheTable) {
#ifdef _WIN32
  std::ifstream readme("Z:" TBT_SOURCE_DIR "/README.md");
#else
  std::ifstream readme(TBT_SOURCE_DIR "/README.md");
#endif
  ASSERT_TRUE(readme.good());
  std::set<uint32_t> listed;
  bool other = false, inDeploying = false, inCodes = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("## ", 0) == 0) inDeploying = line == "## Deploying";
    if (!inDeploying) continue;
    if (line == "Exit codes:") inCodes = true;
    if (!inCodes || line.rfind("| ", 0) != 0) continue;
    const std::string cell = line.substr(2, line.find(' ', 2) - 2);
    if (cell == "other") other = true;
    if (cell.rfind("0x", 0) == 0) {
      EXPECT_TRUE(listed.insert(std::stoul(cell, nullptr, 16)).second) << cell;
    }
  }
  size_t count = 0;
  const ExitCodeRow* rows = ExitCodeRows(count);
  std::set<uint32_t> table;
  for (size_t i = 0; i < count; ++i) {
    if (rows[i].anyOther) {
      EXPECT_TRUE(other) << "README lists no row for the provider's codes";
      continue;
    }
    table.insert(rows[i].code);
    EXPECT_EQ(FindExitCode(rows[i].code), &rows[i]);
    if (StatusName(rows[i].code)) {
      EXPECT_STREQ(rows[i].name, StatusName(rows[i].code));
    }
  }
  EXPECT_EQ(listed, table);
  EXPECT_EQ(FindExitCode(5), nullptr);
  EXPECT_EQ(FindExitCode(kExitInvalidCommandLine)->name, std::string("ERROR_INVALID_COMMAND_LINE"));
}

// True when `text` is well-formed UTF-8 (no cut character, no stray byte).
bool IsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const size_t n = lead < 0x80         ? 1
                     : (lead >> 5) == 6  ? 2
                     : (lead >> 4) == 14 ? 3
                     : (lead >> 3) == 30 ? 4
                                         : 0;
    if (n == 0 || i + n > text.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

std::vector<std::string> g_events;
void KeepEvent(const std::string& event) {
  g_events.push_back(event);
}

// "日" (three bytes in UTF-8) repeated: the longest Windows path, in a script
// that takes three bytes a character.
std::string LongestPathUtf8() {
  std::string path = "C:";
  for (int i = 0; i < 32767 - 9; ++i) path += "\xE6\x97\xA5";
  return path + "\\fw.bin";  // 32,767 characters
}

TEST(RunLog, TheLongestPathIsLoggedWhole) {
  SetRunLogSink(KeepEvent);
  g_events.clear();
  const std::string path = LongestPathUtf8();
  RunLog("image: %s", path.c_str());
  RunLog("result: %s", ExitCodeForLog(1223).c_str());
  SetRunLogSink(nullptr);
  ASSERT_EQ(g_events.size(), 2u);
  EXPECT_EQ(g_events[0],
            "image: " + path.substr(0, path.size() - 7) + "\\\\fw.bin");  // its backslash escaped
  EXPECT_EQ(g_events[1], "result: 0x000004C7 ERROR_CANCELLED");
  EXPECT_EQ(StatusForLog(1223), "0x000004C7 provider code");  // a step's code is the provider's
}

TEST(RunLog, ACutFallsOnACharacterAndSaysSo) {
  const std::string event = "image: " + LongestPathUtf8();
  EXPECT_EQ(FitRunLogEvent(event, event.size()), event);
  for (size_t limit = 40; limit < 52; ++limit) {
    const std::string cut = FitRunLogEvent(event, limit);
    EXPECT_LE(cut.size(), limit) << limit;
    EXPECT_GE(cut.size(), limit - 2) << limit;  // at most a character's other bytes given up
    EXPECT_TRUE(IsUtf8(cut)) << limit;
    EXPECT_EQ(cut.substr(cut.size() - std::strlen(kRunLogCutMark)), kRunLogCutMark) << limit;
    EXPECT_EQ(event.compare(0, cut.size() - std::strlen(kRunLogCutMark), cut, 0,
                            cut.size() - std::strlen(kRunLogCutMark)),
              0);
  }
}

}  // namespace

namespace {

// The file system as a table: the parts listed exist; "D" a folder, "L" a
// junction or link, "F" a file. Records what was asked.
class TableProbe : public ILogPathProbe {
 public:
  explicit TableProbe(std::map<std::wstring, char> parts) : m_parts(std::move(parts)) {}
  LogPathPart Probe(const std::wstring& path) override {
    m_asked.push_back(path);
    LogPathPart part;
    const auto it = m_parts.find(path);
    if (it == m_parts.end()) return part;
    part.exists = true;
    part.directory = it->second != 'F';
    part.reparsePoint = it->second == 'L';
    return part;
  }
  std::map<std::wstring, char> m_parts;
  std::vector<std::wstring> m_asked;
};

TEST(LogPath, NoPartIsFollowedAndNoDeviceIsTaken) {
  const std::map<std::wstring, char> fs = {
      {L"C:\\Temp", 'D'},        {L"C:\\Temp\\logs", 'D'},       {L"C:\\Temp\\logs\\run.log", 'F'},
      {L"C:\\Jct", 'L'},         {L"C:\\Temp\\lnk", 'L'},        {L"C:\\Temp\\logs\\lnk.log", 'L'},
      {L"C:\\Temp\\f.txt", 'F'}, {L"\\\\srv\\share\\logs", 'D'}, {L"\\\\?\\C:\\Temp", 'D'}};
  const struct {
    const wchar_t* path;
    LogPathVerdict verdict;
    const wchar_t* part;
  } cases[] = {
      {L"C:\\Temp\\logs\\run.log", LogPathVerdict::kAccepted, L"C:\\Temp\\logs\\run.log"},
      {L"C:\\Temp\\logs\\new.log", LogPathVerdict::kAccepted, L"C:\\Temp\\logs\\new.log"},
      {L"C:\\Jct\\logs\\run.log", LogPathVerdict::kThroughLink, L"C:\\Jct"},           // first part
      {L"C:\\Temp\\lnk\\x\\run.log", LogPathVerdict::kThroughLink, L"C:\\Temp\\lnk"},  // a middle part
      {L"C:\\Temp\\logs\\lnk.log", LogPathVerdict::kThroughLink, L"C:\\Temp\\logs\\lnk.log"},  // the last
      {L"C:\\Temp\\missing\\run.log", LogPathVerdict::kNoFolder, L"C:\\Temp\\missing"},
      {L"C:\\Temp\\f.txt\\run.log", LogPathVerdict::kNotAFolder, L"C:\\Temp\\f.txt"},
      {L"C:\\Temp\\logs", LogPathVerdict::kNotAFile, L"C:\\Temp\\logs"},
      {L"C:\\Temp\\logs\\", LogPathVerdict::kNotAFile, L"C:\\Temp\\logs\\"},
      {L"\\\\srv\\share\\logs\\run.log", LogPathVerdict::kAccepted, L"\\\\srv\\share\\logs\\run.log"},
      {L"\\\\?\\C:\\Temp\\run.log", LogPathVerdict::kAccepted, L"\\\\?\\C:\\Temp\\run.log"},
      {L"\\\\.\\pipe\\tbt", LogPathVerdict::kDeviceNamespace, nullptr},
      {L"\\\\.\\C:\\Temp\\run.log", LogPathVerdict::kDeviceNamespace, nullptr},
      {L"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume1\\x.log", LogPathVerdict::kDeviceNamespace, nullptr},
      {L"\\??\\C:\\Temp\\run.log", LogPathVerdict::kDeviceNamespace, nullptr},
      {L"\\\\srv\\run.log", LogPathVerdict::kNotFullPath, nullptr},
      {L"run.log", LogPathVerdict::kNotFullPath, nullptr},
      {L"C:\\Temp\\..\\Jct\\run.log", LogPathVerdict::kNotFullPath, L"C:\\Temp\\.."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path, c.path + std::wcslen(c.path)));
    TableProbe probe(fs);
    const LogPathCheck check = CheckLogPath(c.path, probe);
    EXPECT_EQ(check.verdict, c.verdict);
    if (c.part) {
      EXPECT_TRUE(check.part == c.part);
    }
    // Nothing is asked of a device's name, nor of a root (a drive, a share).
    if (!c.part) {
      EXPECT_TRUE(probe.m_asked.empty());
    }
    for (const std::wstring& asked : probe.m_asked) EXPECT_GT(asked.size(), 3u);
    EXPECT_TRUE(std::find(probe.m_asked.begin(), probe.m_asked.end(), L"\\\\srv\\share") ==
                probe.m_asked.end());
  }
}

TEST(RunLog, ControlCharactersAreShownEscapedAndEveryLineReadsBack) {
  SetRunLogSink(KeepEvent);
  g_events.clear();
  const std::string forged =
      "/x\r\n2026-12-08T00:00:00.000Z [999] result: 0x00000000 STATUS_OK\x1b[2J\t\x7f\xc2\x85\xe2\x80\xa8 "
      "C:\\d\\x41 \xe2\x80\xaegpj.exe \xe2\x81\xa6\\\\";
  RunLog("options: %s", forged.c_str());
  SetRunLogSink(nullptr);
  ASSERT_EQ(g_events.size(), 1u);
  EXPECT_EQ(g_events[0],
            "options: /x\\r\\n2026-12-08T00:00:00.000Z [999] result: 0x00000000 "
            "STATUS_OK\\x1b[2J\\t\\x7f\\u0085\\u2028 C:\\\\d\\\\x41 \\u202egpj.exe \\u2066\\\\\\\\");
  std::string text;
  ASSERT_TRUE(ReadBack(g_events[0], text));
  EXPECT_EQ(text, "options: " + forged);
  // Cut anywhere, a line still reads back, and never inside an escape.
  for (size_t limit = 20; limit < g_events[0].size(); ++limit) {
    const std::string cut = FitRunLogEvent(g_events[0], limit);
    EXPECT_TRUE(ReadBack(cut, text)) << cut;
    EXPECT_EQ(("options: " + forged).rfind(text.substr(0, text.size() - std::strlen(kRunLogCutMark)), 0), 0u)
        << limit;
  }
  // The console keeps a path's backslashes as people read them.
  EXPECT_EQ(EscapeControls(std::wstring(L"a\r\nb\x1b\x85\x2029\x65e5 \x202e\x2067"
                                        L"C:\\d")),
            L"a\\r\\nb\\x1b\\u0085\\u2029\x65e5 \\u202e\\u2067C:\\d");
}

}  // namespace
