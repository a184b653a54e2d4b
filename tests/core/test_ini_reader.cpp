// Our INI reader's own decisions, where no platform reader is there to compare
// with: decoding of damaged or unmarked files, the size bound, the default value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/core/text_test_files.h"
#include "ui/ini_reader.h"

namespace {

using texttest::TempDir;
using texttest::WriteBytes;

std::wstring Decode(const std::vector<unsigned char>& bytes) {
  return IniDecodeText(bytes.data(), bytes.size());
}

// A code point as the platform's wchar_t form spells it.
std::wstring Cp(char32_t cp) {
  std::wstring s;
  if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
    s.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
    s.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
  } else {
    s.push_back(static_cast<wchar_t>(cp));
  }
  return s;
}

TEST(IniDecode, SelectsTheEncodingByByteOrderMark) {
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    std::wstring text;
  } cases[] = {
      {"utf16le", {0xFF, 0xFE, 'a', 0, 0x34, 0x12}, L"a\x1234"},
      {"utf16be", {0xFE, 0xFF, 0, 'a', 0x12, 0x34}, L"a\x1234"},
      {"utf8 bom", {0xEF, 0xBB, 0xBF, 'a', 0xE1, 0x88, 0xB4}, L"a\x1234"},
      {"utf8 without bom", {'a', 0xE1, 0x88, 0xB4}, L"a\x1234"},
      {"utf16le surrogate pair", {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}, Cp(0x1F600)},
      {"utf8 four bytes", {0xF0, 0x9F, 0x98, 0x80}, Cp(0x1F600)},
      {"bom only", {0xFF, 0xFE}, L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.bytes), c.text);
  }
}

TEST(IniDecode, DamagedSequencesBecomeReplacementCharacters) {
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
    std::wstring text;
  } cases[] = {
      {"lone continuation byte",
       {'a', 0x80, 'b'},
       L"a\xFFFD"
       L"b"},
      {"truncated at the end", {'a', 0xE1, 0x88}, L"a\xFFFD\xFFFD"},
      {"truncated before ascii",
       {0xE1, 'x'},
       L"\xFFFD"
       L"x"},
      {"overlong slash", {0xC0, 0xAF}, L"\xFFFD\xFFFD"},
      {"encoded surrogate", {0xED, 0xA0, 0x80}, L"\xFFFD"},
      {"beyond unicode", {0xF4, 0x90, 0x80, 0x80}, L"\xFFFD"},
      {"invalid lead byte",
       {0xFF, 'a'},
       L"\xFFFD"
       L"a"},
      {"utf16 unpaired high surrogate",
       {0xFF, 0xFE, 0x3D, 0xD8, 'a', 0},
       L"\xFFFD"
       L"a"},
      {"utf16 unpaired low surrogate", {0xFF, 0xFE, 0x00, 0xDE}, L"\xFFFD"},
      {"utf16 high surrogate at the end", {0xFF, 0xFE, 'a', 0, 0x3D, 0xD8}, L"a\xFFFD"},
      {"utf16 odd trailing byte dropped", {0xFF, 0xFE, 'a', 0, 'b'}, L"a"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Decode(c.bytes), c.text);
  }
}

TEST(IniDecode, NullOrEmptyInputIsEmptyText) {
  EXPECT_EQ(IniDecodeText(nullptr, 10), L"");
  const unsigned char one = 'x';
  EXPECT_EQ(IniDecodeText(&one, 0), L"");
}

TEST(IniFind, ReportsTheRawValueAndWhetherTheKeyHasOne) {
  const std::wstring text = L"[S]\r\nq = \"quoted\" \r\nbare\r\nbare=later\r\n";
  std::wstring_view value;
  ASSERT_TRUE(IniFindValue(text, L"S", L"q", &value));
  EXPECT_EQ(value, L"\"quoted\"");
  EXPECT_FALSE(IniFindValue(text, L"S", L"bare", &value)) << "the first match has no '='";
  EXPECT_FALSE(IniFindValue(text, L"T", L"q", &value));
  // Lookup names are trimmed, as the platform trims them.
  ASSERT_TRUE(IniFindValue(text, L" S ", L"\tq ", &value));
  EXPECT_EQ(value, L"\"quoted\"");
}

TEST(IniFind, SearchesOnlyTheFirstSectionOfAName) {
  const std::wstring text = L"[S]\r\na=1\r\n[other]\r\n[s]\r\nb=2\r\n";
  std::wstring_view value;
  EXPECT_TRUE(IniFindValue(text, L"S", L"a", &value));
  EXPECT_FALSE(IniFindValue(text, L"S", L"b", &value));
}

// Our reader is the only one on the host, so it reads unmarked UTF-8 as UTF-8.
// (The Windows reader takes such a file in the ANSI code page, which garbles
// anything beyond ASCII; the shipped file carries a byte order mark.)
TEST(IniRead, UnmarkedUtf8IsReadAsUtf8) {
  TempDir dir;
  const auto file = dir.path() / "u8.ini";
  WriteBytes(file, {'[', 'S', ']', '\n', 'k', '=', 0xE6, 0x9B, 0xB4, 0xE6, 0x96, 0xB0, '\n'});
  wchar_t out[8];
  EXPECT_EQ(IniReadString(file, L"S", L"k", L"", out, 8), 2u);
  EXPECT_STREQ(out, L"\x66F4\x65B0");
}

TEST(IniRead, OversizedFileYieldsTheDefault) {
  TempDir dir;
  const auto file = dir.path() / "big.ini";
  std::vector<unsigned char> bytes = {'[', 'S', ']', '\n', 'k', '=', 'v', '\n'};
  wchar_t out[8];

  bytes.resize(kIniMaxFileBytes, ' ');
  WriteBytes(file, bytes);
  IniReadString(file, L"S", L"k", L"dflt", out, 8);
  EXPECT_STREQ(out, L"v") << "a file at the limit is still read";

  bytes.push_back(' ');
  WriteBytes(file, bytes);
  IniReadString(file, L"S", L"k", L"dflt", out, 8);
  EXPECT_STREQ(out, L"dflt");
}

TEST(IniRead, DefaultValueRules) {
  TempDir dir;
  const auto file = dir.path() / "d.ini";
  texttest::WriteIni(file, L"[S]\r\nk=v\r\nbare\r\n");
  wchar_t out[8];

  struct Case {
    const char* name;
    std::filesystem::path file;
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* def;
    uint32_t size;
    const wchar_t* expected;
  } cases[] = {
      {"missing file", dir.path() / "none.ini", L"S", L"k", L"dflt", 8, L"dflt"},
      {"folder instead of file", dir.path(), L"S", L"k", L"dflt", 8, L"dflt"},
      {"missing key", file, L"S", L"x", L"dflt", 8, L"dflt"},
      {"key without value", file, L"S", L"bare", L"dflt", 8, L"dflt"},
      {"null section", file, nullptr, L"k", L"dflt", 8, L"dflt"},
      {"null key", file, L"S", nullptr, L"dflt", 8, L"dflt"},
      {"trailing blanks removed", file, L"S", L"x", L"d  ", 8, L"d"},
      {"leading blanks kept", file, L"S", L"x", L"  d", 8, L"  d"},
      {"default cut", file, L"S", L"x", L"default", 4, L"def"},
      {"null default", file, L"S", L"x", nullptr, 8, L""},
      {"value found", file, L"S", L"k", L"dflt", 8, L"v"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::fill_n(out, 8, L'#');
    EXPECT_EQ(IniReadString(c.file, c.section, c.key, c.def, out, c.size), std::wcslen(c.expected));
    EXPECT_STREQ(out, c.expected);
  }

  std::fill_n(out, 8, L'#');
  EXPECT_EQ(IniReadString(file, L"S", L"k", L"", out, 0), 0u);
  EXPECT_EQ(out[0], L'#');
  EXPECT_EQ(IniReadString(file, L"S", L"k", L"", nullptr, 8), 0u);
}

}  // namespace
