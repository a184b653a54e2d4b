#include <gtest/gtest.h>

#include <cwchar>
#include <vector>

#include "app/options.h"
#include "app/status.h"

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
      {{L"/l:x.log", L"-s", L"s", L"/silent", L"/sc", L"/??"}, false, false, false, L""},
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
    EXPECT_EQ(options.langId, 0x0409) << at;  // none of them is taken for a language
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
  for (TbtStatus code = 0x10430001; code <= ERR_NOT_INTERACTIVE; ++code) {
    ASSERT_NE(StatusName(code), nullptr) << std::hex << code;
    EXPECT_EQ(std::string(StatusName(code)).rfind("ERR_", 0), 0u);
  }
  EXPECT_STREQ(StatusName(STATUS_OK), "STATUS_OK");
  EXPECT_EQ(StatusName(5), nullptr);
  EXPECT_STREQ(StatusName(0x1043000E), "ERR_ALREADY_RUNNING");
  EXPECT_EQ(StatusName(0x10430010), nullptr);
}

TEST(Status, ResultTextKeys) {
  struct Case {
    TbtStatus status;
    const wchar_t* key;
    bool withCode;
  } cases[] = {
      {STATUS_OK, L"IDS_SUCCESS", false},
      {ERR_ACPI_DEVICE_MISSING, L"IDS_FIND_NO_QMX", false},
      {ERR_PROVIDER_FAILED, L"IDS_FIND_NO_SW", false},
      {ERR_DOWNGRADE_REFUSED, L"IDS_DOWNGRADE", false},
      {ERR_ON_BATTERY, L"IDS_CAUTION", false},
      {ERR_ALREADY_RUNNING, L"IDS_BUSY", false},
      {ERR_NOT_INTERACTIVE, L"IDS_ERROR", true},
      {ERR_IMAGE_MISMATCH, L"IDS_ERROR", true},
      {ERR_CONTROLLER_NOT_FOUND, L"IDS_ERROR", true},
      {5, L"IDS_ERROR", true},
  };
  for (const Case& c : cases) {
    StatusText text = StatusTextFor(c.status);
    EXPECT_EQ(std::wcscmp(text.key, c.key), 0) << std::hex << c.status;
    EXPECT_EQ(text.withCode, c.withCode) << std::hex << c.status;
  }
}

}  // namespace
