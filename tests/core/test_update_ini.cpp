// The shipped data/Update.ini, as the build writes it: its encoding, that every
// language has all its texts, and that the texts fit the buffers that show them.
// Read through the same lookup the program uses (the platform's reader on Windows).
#include <gtest/gtest.h>

#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/core/text_test_files.h"
#include "ui/ini_reader.h"
#include "ui/localized_text.h"

namespace {

// bin/data/Update.ini; this binary runs from bin/texttest.
std::filesystem::path ShippedIni() {
  return LocalizedTextFile().parent_path().parent_path().parent_path() / "data" / "Update.ini";
}

const wchar_t* const kKeys[] = {L"IDS_UPDATE",
                                L"IDS_EXIT",
                                L"IDS_PROMPT",
                                L"IDS_CAUTION",
                                L"IDS_SHUTDOWN",
                                L"IDS_SHUTDOWN_LATER",
                                L"IDS_FIND_NO_QMX",
                                L"IDS_SUCCESS",
                                L"IDS_FIND_NO_SW",
                                L"IDS_DOWNGRADE",
                                L"IDS_ERROR",
                                L"IDS_BUSY",
                                L"IDS_SHUTDOWN_BLOCKED",
                                L"IDS_CHECK_ONLY_OK",
                                L"IDS_BATTERY_UNATTENDED",
                                L"IDS_NOT_RELEASED",
                                L"IDS_RESTART_REQUIRED",
                                L"IDS_UPDATING",
                                L"IDS_CLOSE"};

struct Language {
  uint16_t langId;
  const wchar_t* section;
};

const Language kLanguages[] = {
    {0x0409, L"English"},
    {0x0404, L"ChineseTraditional"},
    {0x0804, L"ChineseSimplified"},
    {0x0411, L"Japanese"},
    {0x0412, L"Korean"},
    {0x0416, L"PortugueseBrazil"},
    {0x0816, L"PortuguesePortugal"},
    {0x0407, L"German"},
    {0x040C, L"French"},
    {0x040A, L"Spanish"},
    {0x0410, L"Italian"},
};

std::string Narrow(std::wstring_view s) {
  std::string n;
  for (wchar_t c : s) n += (c < 0x80) ? static_cast<char>(c) : '?';
  return n;
}

std::wstring Text(uint16_t langId, const wchar_t* key, uint32_t size = 512) {
  std::vector<wchar_t> out(size);
  LoadLocalizedStringFrom(ShippedIni(), langId, key, out.data(), size);
  return out.data();
}

class ShippedTexts : public ::testing::Test {
 protected:
  void SetUp() override {
    bytes_ = texttest::ReadBytes(ShippedIni());
    ASSERT_FALSE(bytes_.empty()) << "missing " << ShippedIni().string();
  }
  std::vector<unsigned char> bytes_;
};

TEST_F(ShippedTexts, IsUtf16LittleEndianWithBomAndCrlf) {
  ASSERT_GE(bytes_.size(), 2u);
  EXPECT_EQ(bytes_[0], 0xFF);
  EXPECT_EQ(bytes_[1], 0xFE);
  EXPECT_EQ(bytes_.size() % 2, 0u);
  const std::wstring text = IniDecodeText(bytes_.data(), bytes_.size());
  EXPECT_EQ(text.find(L'\xFFFD'), std::wstring::npos) << "undecodable characters";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\n') {
      ASSERT_TRUE(i > 0 && text[i - 1] == L'\r') << "bare line feed at " << i;
    }
  }
  EXPECT_EQ(text.find(L"\n;"), std::wstring::npos) << "source comments are not shipped";
}

TEST_F(ShippedTexts, EverySectionHoldsExactlyTheElevenKeys) {
  const std::wstring text = IniDecodeText(bytes_.data(), bytes_.size());
  std::map<std::wstring, std::multiset<std::wstring>> keysBySection;
  std::wstring section;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t eol = text.find(L'\n', pos);
    if (eol == std::wstring::npos) eol = text.size();
    std::wstring line = text.substr(pos, eol - pos);
    pos = eol + 1;
    while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) line.pop_back();
    if (line.empty()) continue;
    if (line.front() == L'[') {
      section = line.substr(1, line.find(L']') - 1);
      keysBySection[section];
      continue;
    }
    keysBySection[section].insert(line.substr(0, line.find(L'=')));
  }

  const std::multiset<std::wstring> expected(std::begin(kKeys), std::end(kKeys));
  ASSERT_EQ(keysBySection.count(L"Language"), 1u);
  EXPECT_EQ(keysBySection.size(), std::size(kLanguages) + 1) << "one section per language, plus Language";
  for (const auto& [name, keys] : keysBySection) {
    if (name == L"Language") continue;
    EXPECT_EQ(keys, expected) << "section " << Narrow(name);
  }
}

TEST_F(ShippedTexts, EveryLanguageHasItsOwnCompleteSection) {
  const auto file = ShippedIni();
  std::set<std::wstring> prompts;
  std::set<std::wstring> errors;
  for (const auto& lang : kLanguages) {
    wchar_t key[10];
    std::swprintf(key, 10, L"0x%X", static_cast<unsigned>(lang.langId));
    wchar_t section[30];
    IniReadString(file, L"Language", key, L"", section, 30);
    SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << lang.langId);
    EXPECT_STREQ(section, lang.section);

    for (const wchar_t* k : kKeys) {
      const std::wstring text = Text(lang.langId, k);
      EXPECT_FALSE(text.empty()) << Narrow(k);
    }
    // A copied section would repeat another language's sentences.
    EXPECT_TRUE(prompts.insert(Text(lang.langId, L"IDS_PROMPT")).second);
    EXPECT_TRUE(errors.insert(Text(lang.langId, L"IDS_ERROR")).second);
  }
}

TEST_F(ShippedTexts, RegionalVariantsReachTheirLanguage) {
  // Every language id Windows knows for the eleven languages, regional and
  // neutral, lands on its own language's texts; others fall back to English.
  const struct {
    uint16_t language;
    std::vector<uint16_t> variants;
  } cases[] = {
      {0x0409,
       {0x0009, 0x0809, 0x0C09, 0x1009, 0x1409, 0x1809, 0x1C09, 0x2009, 0x2409, 0x2809, 0x2C09, 0x3009,
        0x3409, 0x3C09, 0x4009, 0x4409, 0x4809, 0x4C09, 0x5009, 0x5409, 0x5809, 0x5C09, 0x6009, 0x6409}},
      {0x0404, {0x0C04, 0x1404, 0x7C04}},
      {0x0804, {0x1004, 0x0004}},
      {0x0411, {0x0011}},
      {0x0412, {0x0012}},
      {0x0407, {0x0007, 0x0807, 0x0C07, 0x1007, 0x1407}},
      {0x040C,
       {0x000C, 0x080C, 0x0C0C, 0x100C, 0x140C, 0x180C, 0x1C0C, 0x200C, 0x240C, 0x280C, 0x2C0C, 0x300C,
        0x340C, 0x380C, 0x3C0C, 0xE40C}},
      {0x040A,
       {0x000A, 0x080A, 0x0C0A, 0x100A, 0x140A, 0x180A, 0x1C0A, 0x200A, 0x240A, 0x280A, 0x2C0A, 0x300A,
        0x340A, 0x380A, 0x3C0A, 0x400A, 0x440A, 0x480A, 0x4C0A, 0x500A, 0x540A, 0x580A, 0x5C0A}},
      {0x0410, {0x0010, 0x0810}},
      {0x0409, {0x0419, 0x0000}},
  };
  for (const auto& c : cases) {
    for (uint16_t variant : c.variants) {
      SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << variant);
      EXPECT_EQ(Text(variant, L"IDS_PROMPT"), Text(c.language, L"IDS_PROMPT"));
    }
  }
}

TEST_F(ShippedTexts, TextsFitTheBuffersThatShowThem) {
  for (const auto& lang : kLanguages) {
    SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << lang.langId);
    // The error text is followed by " (0X%08X)" in a 256-character buffer.
    EXPECT_LT(Text(lang.langId, L"IDS_ERROR").size(), 200u);
    // Result messages are fetched into 256 characters, layout texts into 512.
    for (const wchar_t* k :
         {L"IDS_FIND_NO_QMX", L"IDS_SUCCESS", L"IDS_FIND_NO_SW", L"IDS_DOWNGRADE", L"IDS_BUSY",
          L"IDS_SHUTDOWN_BLOCKED", L"IDS_CHECK_ONLY_OK", L"IDS_BATTERY_UNATTENDED", L"IDS_NOT_RELEASED",
          L"IDS_RESTART_REQUIRED", L"IDS_UPDATING"}) {
      EXPECT_LT(Text(lang.langId, k, 512).size(), 255u);
      EXPECT_EQ(Text(lang.langId, k, 256), Text(lang.langId, k, 512));
    }
    for (const wchar_t* k :
         {L"IDS_UPDATE", L"IDS_EXIT", L"IDS_SHUTDOWN", L"IDS_SHUTDOWN_LATER", L"IDS_CLOSE"}) {
      EXPECT_LE(Text(lang.langId, k).size(), 16u) << "a button caption or name";
    }
  }
}

TEST_F(ShippedTexts, CautionNamesTheUpdateButtonAsCaptioned) {
  for (const auto& lang : kLanguages) {
    SCOPED_TRACE(testing::Message() << "language 0x" << std::hex << lang.langId);
    const std::wstring caption = Text(lang.langId, L"IDS_UPDATE");
    EXPECT_NE(Text(lang.langId, L"IDS_CAUTION").find(caption), std::wstring::npos);
    // Without a window there is no button to press.
    EXPECT_EQ(Text(lang.langId, L"IDS_BATTERY_UNATTENDED").find(caption), std::wstring::npos);
  }
}

TEST_F(ShippedTexts, NoValueDependsOnQuoteOrBlankStripping) {
  const std::wstring text = IniDecodeText(bytes_.data(), bytes_.size());
  for (const auto& lang : kLanguages) {
    for (const wchar_t* k : kKeys) {
      std::wstring_view raw;
      ASSERT_TRUE(IniFindValue(text, lang.section, k, &raw));
      EXPECT_NE(raw.front(), L'"');
      EXPECT_NE(raw.front(), L'\'');
    }
  }
}

}  // namespace
