// Text lookup against real INI files. The same cases run on the host through our
// INI reader and under Wine through GetPrivateProfileStringW, so our reader is
// held to the platform's behaviour; under Wine each profile case also runs
// through our reader, which must agree with the platform's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tests/core/text_test_files.h"
#include "ui/ini_reader.h"
#include "ui/localized_text.h"

namespace {

using texttest::TempDir;
using texttest::WriteBytes;
using texttest::WriteIni;

constexpr uint32_t kOut = 64;

// ---------------------------------------------------------------------------
// Profile reads: the properties the lookup relies on.

struct ProfileCase {
  const char* name;
  const wchar_t* ini;
  const wchar_t* section;
  const wchar_t* key;
  uint32_t size;
  const wchar_t* expected;
};

const ProfileCase kProfileCases[] = {
    {"plain", L"[S]\r\nk=value\r\n", L"S", L"k", kOut, L"value"},
    {"lf line ends", L"[S]\nk=value\nz=last", L"S", L"z", kOut, L"last"},
    {"section name any case", L"[LaNgUaGe]\r\nk=v\r\n", L"language", L"k", kOut, L"v"},
    {"key name any case", L"[S]\r\nIds_Prompt=v\r\n", L"S", L"IDS_PROMPT", kOut, L"v"},
    {"first key wins", L"[S]\r\nk=first\r\nK=second\r\n", L"S", L"k", kOut, L"first"},
    {"key of another section", L"[A]\r\nk=a\r\n[B]\r\nk=b\r\n", L"B", L"k", kOut, L"b"},
    {"missing section", L"[A]\r\nk=a\r\n", L"B", L"k", kOut, L""},
    {"missing key", L"[A]\r\nk=a\r\n", L"A", L"j", kOut, L""},
    {"key before any section", L"k=a\r\n[A]\r\nj=b\r\n", L"A", L"k", kOut, L""},
    {"blanks around name and value", L"[S]\r\n  \tk \t=   spaced out \t \r\n", L"S", L"k", kOut,
     L"spaced out"},
    {"blank inside a key name", L"[S]\r\nmy key = v\r\n", L"S", L"my key", kOut, L"v"},
    {"equals sign inside the value", L"[S]\r\nk=a=b\r\n", L"S", L"k", kOut, L"a=b"},
    {"empty value", L"[S]\r\nk=\r\nj=x\r\n", L"S", L"k", kOut, L""},
    {"double quotes removed", L"[S]\r\nk=\"quoted value\"\r\n", L"S", L"k", kOut, L"quoted value"},
    {"single quotes removed", L"[S]\r\nk='single'\r\n", L"S", L"k", kOut, L"single"},
    {"blanks inside quotes kept", L"[S]\r\nk =  \"  inner  \"  \r\n", L"S", L"k", kOut, L"  inner  "},
    {"only one pair removed", L"[S]\r\nk=\"\"twice\"\"\r\n", L"S", L"k", kOut, L"\"twice\""},
    {"quote inside kept", L"[S]\r\nk=\"a\"b\"\r\n", L"S", L"k", kOut, L"a\"b"},
    {"unbalanced quote kept", L"[S]\r\nk=\"open\r\n", L"S", L"k", kOut, L"\"open"},
    {"mixed quotes kept", L"[S]\r\nk=\"mixed'\r\n", L"S", L"k", kOut, L"\"mixed'"},
    {"empty quotes", L"[S]\r\nk=\"\"\r\n", L"S", L"k", kOut, L""},
    {"lone quote", L"[S]\r\nk=\"\r\n", L"S", L"k", kOut, L"\""},
    {"apostrophe inside text", L"[S]\r\nk=l'ordinateur\r\n", L"S", L"k", kOut, L"l'ordinateur"},
    {"cut to capacity minus one", L"[S]\r\nk=Hello world\r\n", L"S", L"k", 6, L"Hello"},
    {"exactly fits", L"[S]\r\nk=Hello world\r\n", L"S", L"k", 12, L"Hello world"},
    {"one short", L"[S]\r\nk=Hello world\r\n", L"S", L"k", 11, L"Hello worl"},
    {"capacity one", L"[S]\r\nk=Hello\r\n", L"S", L"k", 1, L""},
    {"non-latin text", L"[S]\r\nk=\x66F4\x65B0 \xC5C5\xB370\xC774\xD2B8\r\n", L"S", L"k", kOut,
     L"\x66F4\x65B0 \xC5C5\xB370\xC774\xD2B8"},
    {"accented text", L"[S]\r\nk=Sp\x00E4ter \x00C9teindre\r\n", L"S", L"k", kOut,
     L"Sp\x00E4ter \x00C9teindre"},
    {"comment-looking line is no key", L"[S]\r\n;k=hidden\r\nk=shown\r\n", L"S", L"k", kOut, L"shown"},
    {"bracket without close is no header", L"[S]\r\n[T\r\nk=s\r\n", L"S", L"k", kOut, L"s"},
    {"only the first section of a name", L"[S]\r\na=1\r\n[T]\r\n[s]\r\nb=2\r\n", L"S", L"b", kOut, L""},
    {"first key of a repeated section", L"[S]\r\na=1\r\n[S]\r\na=2\r\n", L"S", L"a", kOut, L"1"},
    {"lookup names trimmed", L"[S]\r\nk=v\r\n", L" S ", L"\tk ", kOut, L"v"},
    {"first match without value", L"[S]\r\nk\r\nk=later\r\n", L"S", L"k", kOut, L""},
    {"text after the header's bracket", L"[S] trailing\r\nk=v\r\n", L"S", L"k", kOut, L"v"},
};

class ProfileRead : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileRead, MatchesThePlatformRules) {
  const ProfileCase& c = GetParam();
  TempDir dir;
  const auto file = dir.path() / "case.ini";
  WriteIni(file, c.ini);

  std::vector<wchar_t> out(c.size + 1, L'#');
  const uint32_t n = ReadLocalizedProfileString(file, c.section, c.key, out.data(), c.size);
  EXPECT_EQ(std::wstring(out.data()), c.expected);
  EXPECT_EQ(n, std::wcslen(c.expected));
  EXPECT_EQ(out[c.size], L'#') << "wrote past the capacity";

  // Our reader must give what the platform gives.
  std::vector<wchar_t> ours(c.size + 1, L'#');
  EXPECT_EQ(IniReadString(file, c.section, c.key, L"", ours.data(), c.size), n);
  EXPECT_EQ(std::wstring(ours.data()), std::wstring(out.data()));
  EXPECT_EQ(ours[c.size], L'#');
}

std::string CaseName(const char* name) {
  std::string s;
  for (const char* p = name; *p; ++p) s += (std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
  return s;
}

INSTANTIATE_TEST_SUITE_P(Cases, ProfileRead, ::testing::ValuesIn(kProfileCases),
                         [](const auto& info) { return CaseName(info.param.name); });

// ---------------------------------------------------------------------------
// File encodings: what the platform's reader makes of files not written the
// shipped way. Bytes given raw; the value looked up is [S] k.

struct EncodingCase {
  const char* name;
  std::vector<unsigned char> bytes;
  const wchar_t* expected;
};

std::vector<unsigned char> Bytes(const char* s) {
  return std::vector<unsigned char>(s, s + std::strlen(s));
}

std::vector<unsigned char> Utf16Be(std::wstring_view text) {
  auto le = texttest::Utf16Le(text, true);
  for (size_t i = 0; i + 1 < le.size(); i += 2) std::swap(le[i], le[i + 1]);
  return le;
}

std::vector<EncodingCase> EncodingCases() {
  return {
      {"utf16le with bom", texttest::Utf16Le(L"[S]\r\nk=\x66F4\x65B0\r\n", true), L"\x66F4\x65B0"},
      {"utf16be with bom", Utf16Be(L"[S]\r\nk=\x66F4\x65B0\r\n"), L"\x66F4\x65B0"},
      {"ascii without bom", Bytes("[S]\r\nk=plain text\r\n"), L"plain text"},
      {"utf8 with bom", Bytes("\xEF\xBB\xBF[S]\r\nk=\xC3\xA4\xE6\x9B\xB4\r\n"), L"\x00E4\x66F4"},
      {"utf16le without bom finds nothing", texttest::Utf16Le(L"[S]\r\nk=v\r\n", false), L""},
      {"empty file", {}, L""},
  };
}

TEST(ProfileEncoding, ReadsLikeThePlatform) {
  for (const auto& c : EncodingCases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const auto file = dir.path() / "enc.ini";
    WriteBytes(file, c.bytes);
    wchar_t out[kOut];
    ReadLocalizedProfileString(file, L"S", L"k", out, kOut);
    EXPECT_EQ(std::wstring(out), c.expected);
    wchar_t ours[kOut];
    IniReadString(file, L"S", L"k", L"", ours, kOut);
    EXPECT_EQ(std::wstring(ours), c.expected);
  }
}

// ---------------------------------------------------------------------------
// Language lookup: which "0x%X" key each language id reaches, the fallback,
// and the limits of the section-name buffer.

constexpr wchar_t kMappingIni[] =
    L"[Language]\r\n"
    L"0x409=English\r\n"
    L"0x404=Traditional\r\n"
    L"0x804=Simplified\r\n"
    L"0x7C04=ChineseX\r\n"
    L"0x4=ChineseNeutral\r\n"
    L"0x416=Brazil\r\n"
    L"0x816=Portugal\r\n"
    L"0x407=German\r\n"
    L"0x411=Japanese\r\n"
    L"0x40A=\"Spanish\"\r\n"
    L"0x40C=Missing\r\n"
    L"[English]\r\nIDS_NAME=English text\r\n"
    L"[Traditional]\r\nIDS_NAME=Traditional text\r\n"
    L"[Simplified]\r\nIDS_NAME=Simplified text\r\n"
    L"[ChineseX]\r\nIDS_NAME=ChineseX text\r\n"
    L"[ChineseNeutral]\r\nIDS_NAME=ChineseNeutral text\r\n"
    L"[Brazil]\r\nIDS_NAME=Brazil text\r\n"
    L"[Portugal]\r\nIDS_NAME=Portugal text\r\n"
    L"[German]\r\nIDS_NAME=German text\r\n"
    L"[Japanese]\r\nIDS_NAME=Japanese text\r\n"
    L"[Spanish]\r\nIDS_NAME=Spanish text\r\n";

constexpr wchar_t kNeutralIni[] =
    L"[Language]\r\n0x400=Neutral\r\n0x409=English\r\n"
    L"[Neutral]\r\nIDS_NAME=Neutral text\r\n[English]\r\nIDS_NAME=English text\r\n";

constexpr wchar_t kOnlyFallbackIni[] = L"[language]\r\n0x409=Only\r\n[ONLY]\r\nids_name=Only text\r\n";

// 30 characters: read back as its first 29, so its own section is not found,
// while a section named by those 29 characters is.
constexpr wchar_t kLongNameIni[] =
    L"[Language]\r\n0x409=ABCDEFGHIJKLMNOPQRSTUVWXYZabcd\r\n0x411=ABCDEFGHIJKLMNOPQRSTUVWXYZabc\r\n"
    L"[ABCDEFGHIJKLMNOPQRSTUVWXYZabcd]\r\nIDS_NAME=Long text\r\n";
constexpr wchar_t kLongNameWithCutIni[] =
    L"[Language]\r\n0x409=ABCDEFGHIJKLMNOPQRSTUVWXYZabcd\r\n"
    L"[ABCDEFGHIJKLMNOPQRSTUVWXYZabcd]\r\nIDS_NAME=Long text\r\n"
    L"[ABCDEFGHIJKLMNOPQRSTUVWXYZabc]\r\nIDS_NAME=Cut text\r\n";
constexpr wchar_t kName29Ini[] =
    L"[Language]\r\n0x409=ABCDEFGHIJKLMNOPQRSTUVWXYZabc\r\n"
    L"[ABCDEFGHIJKLMNOPQRSTUVWXYZabc]\r\nIDS_NAME=Name29 text\r\n";

constexpr wchar_t kNoFallbackIni[] =
    L"[Language]\r\n0x411=Japanese\r\n[Japanese]\r\nIDS_NAME=Japanese text\r\n";

constexpr wchar_t kDuplicateLanguageIni[] =
    L"[Language]\r\n0x409=First\r\n0x409=Second\r\n"
    L"[First]\r\nIDS_NAME=first\r\nIDS_NAME=shadowed\r\n[Second]\r\nIDS_NAME=second\r\n";

struct LookupCase {
  const char* name;
  const wchar_t* ini;
  uint16_t langId;
  const wchar_t* key;
  uint32_t size;
  const wchar_t* expected;
};

const LookupCase kLookupCases[] = {
    {"english", kMappingIni, 0x0409, L"IDS_NAME", kOut, L"English text"},
    {"english uk to 409", kMappingIni, 0x0809, L"IDS_NAME", kOut, L"English text"},
    {"chinese taiwan 404", kMappingIni, 0x0404, L"IDS_NAME", kOut, L"Traditional text"},
    {"chinese hong kong to 404", kMappingIni, 0x0C04, L"IDS_NAME", kOut, L"Traditional text"},
    {"chinese macao to 404", kMappingIni, 0x1404, L"IDS_NAME", kOut, L"Traditional text"},
    {"chinese prc 804", kMappingIni, 0x0804, L"IDS_NAME", kOut, L"Simplified text"},
    {"chinese singapore to 804", kMappingIni, 0x1004, L"IDS_NAME", kOut, L"Simplified text"},
    {"chinese 7C04 unchanged", kMappingIni, 0x7C04, L"IDS_NAME", kOut, L"ChineseX text"},
    {"chinese neutral unchanged", kMappingIni, 0x0004, L"IDS_NAME", kOut, L"ChineseNeutral text"},
    {"portuguese brazil 416", kMappingIni, 0x0416, L"IDS_NAME", kOut, L"Brazil text"},
    {"portuguese portugal 816", kMappingIni, 0x0816, L"IDS_NAME", kOut, L"Portugal text"},
    {"portuguese neutral unchanged", kMappingIni, 0x0016, L"IDS_NAME", kOut, L"English text"},
    {"german 407", kMappingIni, 0x0407, L"IDS_NAME", kOut, L"German text"},
    {"german swiss to 407", kMappingIni, 0x0807, L"IDS_NAME", kOut, L"German text"},
    {"japanese 411", kMappingIni, 0x0411, L"IDS_NAME", kOut, L"Japanese text"},
    {"spanish modern to 40A, quoted name", kMappingIni, 0x0C0A, L"IDS_NAME", kOut, L"Spanish text"},
    {"korean absent falls back", kMappingIni, 0x0412, L"IDS_NAME", kOut, L"English text"},
    {"language 0 falls back", kMappingIni, 0x0000, L"IDS_NAME", kOut, L"English text"},
    {"language 0 tries 400 first", kNeutralIni, 0x0000, L"IDS_NAME", kOut, L"Neutral text"},
    {"sublanguage only tries 400", kNeutralIni, 0x0800, L"IDS_NAME", kOut, L"Neutral text"},
    {"named section missing, no fallback", kMappingIni, 0x040C, L"IDS_NAME", kOut, L""},
    {"missing key", kMappingIni, 0x0409, L"IDS_OTHER", kOut, L""},
    {"only fallback, japanese", kOnlyFallbackIni, 0x0411, L"IDS_NAME", kOut, L"Only text"},
    {"only fallback, hong kong", kOnlyFallbackIni, 0x0C04, L"IDS_NAME", kOut, L"Only text"},
    {"only fallback, english", kOnlyFallbackIni, 0x0409, L"IDS_NAME", kOut, L"Only text"},
    {"no fallback entry", kNoFallbackIni, 0x0407, L"IDS_NAME", kOut, L""},
    {"no fallback entry, own language", kNoFallbackIni, 0x0411, L"IDS_NAME", kOut, L"Japanese text"},
    {"30 character section name not found", kLongNameIni, 0x0409, L"IDS_NAME", kOut, L""},
    {"30 character name read as 29", kLongNameWithCutIni, 0x0409, L"IDS_NAME", kOut, L"Cut text"},
    {"29 character section name", kName29Ini, 0x0409, L"IDS_NAME", kOut, L"Name29 text"},
    {"first language entry wins", kDuplicateLanguageIni, 0x0409, L"IDS_NAME", kOut, L"first"},
    {"text cut to capacity", kMappingIni, 0x0409, L"IDS_NAME", 8, L"English"},
    {"capacity one", kMappingIni, 0x0409, L"IDS_NAME", 1, L""},
};

class Lookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, FindsTheLanguageText) {
  const LookupCase& c = GetParam();
  TempDir dir;
  const auto file = dir.path() / "data" / "Update.ini";
  WriteIni(file, c.ini);

  std::vector<wchar_t> out(c.size + 1, L'#');
  LoadLocalizedStringFrom(file, c.langId, c.key, out.data(), c.size);
  EXPECT_EQ(std::wstring(out.data()), c.expected);
  // The whole buffer is cleared, not just the text's end.
  for (uint32_t i = std::wcslen(c.expected); i < c.size; ++i) ASSERT_EQ(out[i], L'\0') << "at " << i;
  EXPECT_EQ(out[c.size], L'#') << "wrote past the capacity";
}

INSTANTIATE_TEST_SUITE_P(Cases, Lookup, ::testing::ValuesIn(kLookupCases),
                         [](const auto& info) { return CaseName(info.param.name); });

TEST(LookupFailures, MissingFileClearsTheWholeBuffer) {
  TempDir dir;
  wchar_t out[16];
  std::fill_n(out, 16, L'#');
  LoadLocalizedStringFrom(dir.path() / "data" / "Update.ini", 0x0409, L"IDS_UPDATE", out, 15);
  for (int i = 0; i < 15; ++i) EXPECT_EQ(out[i], L'\0') << "at " << i;
  EXPECT_EQ(out[15], L'#');
}

TEST(LookupFailures, NullArgumentsAndZeroSizeWriteNothing) {
  TempDir dir;
  const auto file = dir.path() / "Update.ini";
  WriteIni(file, kMappingIni);
  wchar_t out[8];

  std::fill_n(out, 8, L'#');
  LoadLocalizedStringFrom(file, 0x0409, nullptr, out, 8);
  EXPECT_EQ(std::wstring(out, 8), std::wstring(8, L'#'));

  LoadLocalizedStringFrom(file, 0x0409, L"IDS_NAME", nullptr, 8);  // must not crash
  LoadLocalizedString(0x0409, nullptr, out, 8);
  LoadLocalizedString(0x0409, L"IDS_NAME", nullptr, 8);
  EXPECT_EQ(std::wstring(out, 8), std::wstring(8, L'#'));

  LoadLocalizedStringFrom(file, 0x0409, L"IDS_NAME", out, 0);
  EXPECT_EQ(std::wstring(out, 8), std::wstring(8, L'#'));
}

// ---------------------------------------------------------------------------
// The product path: data/Update.ini in the executable's own folder. This test
// binary lives in a folder of its own, so it never touches the shipped file.

TEST(ExecutableFolder, ReadsDataUpdateIniBesideTheExecutable) {
  const auto file = LocalizedTextFile();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.filename(), "Update.ini");
  EXPECT_EQ(file.parent_path().filename(), "data");

  std::error_code ec;
  std::filesystem::remove(file, ec);
  wchar_t out[kOut];
  LoadLocalizedString(0x0409, L"IDS_NAME", out, kOut);
  EXPECT_STREQ(out, L"");

  WriteIni(file, kMappingIni);
  LoadLocalizedString(0x0C04, L"IDS_NAME", out, kOut);
  EXPECT_STREQ(out, L"Traditional text");
  LoadLocalizedString(0x0409, L"IDS_NAME", out, kOut);
  EXPECT_STREQ(out, L"English text");

  // Read anew on every call: a changed file shows at once.
  WriteIni(file, kOnlyFallbackIni);
  LoadLocalizedString(0x0C04, L"IDS_NAME", out, kOut);
  EXPECT_STREQ(out, L"Only text");
  std::filesystem::remove(file, ec);
}

// A copy of this test binary placed more than 1,024 characters deep finds the
// data folder beside itself. The child half runs only when the parent asks.
std::filesystem::path OwnExecutable() {
#ifdef _WIN32
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
#else
  return std::filesystem::read_symlink("/proc/self/exe");
#endif
}

constexpr char kDeepResultVar[] = "TBT_TEXT_DEEP_RESULT";

TEST(DeepFolderChild, WritesWhatItReads) {
  const char* result = std::getenv(kDeepResultVar);
  if (!result) GTEST_SKIP() << "runs only as the child of ExecutableFolder.WorksFromADeepFolder";
  wchar_t out[kOut];
  LoadLocalizedString(0x0C04, L"IDS_NAME", out, kOut);
  WriteBytes(result, texttest::Utf16Le(out, false));
}

int RunChild(const std::filesystem::path& exe, const std::filesystem::path& result) {
#ifdef _WIN32
  SetEnvironmentVariableW(L"TBT_TEXT_DEEP_RESULT", result.c_str());
  std::wstring cmd = L"\"" + exe.wstring() + L"\" --gtest_filter=DeepFolderChild.*";
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  const BOOL started =
      CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(L"TBT_TEXT_DEEP_RESULT", nullptr);
  if (!started) return -static_cast<int>(GetLastError());
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
#else
  setenv(kDeepResultVar, result.c_str(), 1);
  const std::string cmd = "'" + exe.string() + "' --gtest_filter='DeepFolderChild.*' >/dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  unsetenv(kDeepResultVar);
  return rc;
#endif
}

// Windows starts programs only from paths within MAX_PATH (Wine alike), so there
// the copy sits as deep as a program can; elsewhere it sits past 1,024 characters.
#ifdef _WIN32
constexpr size_t kDeepFolderChars = MAX_PATH - 40;
#else
constexpr size_t kDeepFolderChars = 1100;
#endif

TEST(ExecutableFolder, WorksFromADeepFolder) {
  TempDir dir;
  auto deep = dir.path();
  for (int i = 0; deep.native().size() < kDeepFolderChars; ++i) {
    const size_t room = kDeepFolderChars - deep.native().size();
    deep /= std::string(std::min<size_t>(100, room), static_cast<char>('a' + i));
  }
  std::filesystem::create_directories(deep);
  const auto exe = deep / OwnExecutable().filename();
  std::filesystem::copy_file(OwnExecutable(), exe);
  WriteIni(deep / "data" / "Update.ini", kMappingIni);
  const auto result = dir.path() / "result.txt";

  ASSERT_EQ(RunChild(exe, result), 0) << exe.native().size() << "-character path";
  const auto bytes = texttest::ReadBytes(result);
  EXPECT_EQ(bytes, texttest::Utf16Le(L"Traditional text", false));
}

// Installed about 320 characters deep, further than the platform's profile
// reader opens files: the texts still appear.
TEST(ExecutableFolder, ReadsTextsBeyondThePlatformPathLimit) {
  TempDir dir;
  std::filesystem::path deep = dir.path();
  for (int i = 0; deep.native().size() < 320; ++i) deep /= std::string(60, static_cast<char>('a' + i));
  const auto file = deep / "data" / "Update.ini";
#ifdef _WIN32
  WriteIni(LR"(\\?\)" + file.native(), kMappingIni);
#else
  WriteIni(file, kMappingIni);
#endif
  wchar_t out[kOut];
  LoadLocalizedStringFrom(file, 0x0C04, L"IDS_NAME", out, kOut);
  EXPECT_STREQ(out, L"Traditional text") << file.native().size() << "-character path";
  LoadLocalizedStringFrom(file, 0x0411, L"IDS_NAME", out, 4);
  EXPECT_STREQ(out, L"Jap") << "cut to the capacity as the platform cuts";
}

}  // namespace
