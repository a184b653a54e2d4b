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

TEST(Status, OwnCodesHaveNamesAndProviderCodesDoNot) {
  for (TbtStatus code = 0x10430001; code <= 0x1043000C; ++code) {
    ASSERT_NE(StatusName(code), nullptr) << std::hex << code;
    EXPECT_EQ(std::string(StatusName(code)).rfind("ERR_", 0), 0u);
  }
  EXPECT_STREQ(StatusName(STATUS_OK), "STATUS_OK");
  EXPECT_EQ(StatusName(5), nullptr);
  EXPECT_EQ(StatusName(0x1043000D), nullptr);
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
