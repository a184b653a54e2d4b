#include "ui/localized_text.h"

#include <algorithm>
#include <cwchar>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "ui/ini_reader.h"

namespace {

// Sized as the file format expects: a key is "0x" and at most four hex digits,
// and a section name longer than 29 characters is cut (and then not found).
constexpr uint32_t kKeyChars = 10;
constexpr uint32_t kSectionChars = 30;

constexpr wchar_t kLanguageSection[] = L"Language";
constexpr wchar_t kFallbackKey[] = L"0x409";

// The executable's full path. The buffer grows until the name fits, so the tool
// also runs from folders nested deeper than a fixed buffer would allow.
#ifdef _WIN32
std::wstring ExecutablePath() {
  std::wstring path(1024, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    if (path.size() >= 32768) return {};  // longer than any Windows path can be
    path.resize(path.size() * 2);
  }
}
#else
std::string ExecutablePath() {
  std::string path(1024, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0) return {};
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path;
    }
    if (path.size() >= (1u << 20)) return {};
    path.resize(path.size() * 2);
  }
}
#endif

#ifdef _WIN32
// The "\\?\" form of an absolute path, which the file functions open at any
// length.
std::filesystem::path ExtendedLengthPath(const std::filesystem::path& file) {
  const std::wstring path = file.lexically_normal().make_preferred().native();
  if (path.rfind(LR"(\\?\)", 0) == 0) return path;
  if (path.rfind(LR"(\\)", 0) == 0) return LR"(\\?\UNC\)" + path.substr(2);
  if (!file.is_absolute()) return file;
  return LR"(\\?\)" + path;
}
#endif

}  // namespace

uint32_t ReadLocalizedProfileString(const std::filesystem::path& file, const wchar_t* section,
                                    const wchar_t* key, wchar_t* out, uint32_t size) {
#ifdef _WIN32
  // The platform's reader finds nothing in a file whose path reaches MAX_PATH,
  // prefixed or not: a program installed deep down would show no text at all.
  if (file.native().size() < MAX_PATH)
    return GetPrivateProfileStringW(section, key, L"", out, size, file.c_str());
  return IniReadString(ExtendedLengthPath(file), section, key, L"", out, size);
#else
  return IniReadString(file, section, key, L"", out, size);
#endif
}

uint16_t MapTextLanguage(uint16_t langId) {
  const uint16_t primary = langId & 0x3FF;
  if (primary == 0x04) {
    switch (langId) {
      case 0x0404:
      case 0x0C04:
      case 0x1404: return 0x0404;
      case 0x0804:
      case 0x1004: return 0x0804;
      default: return langId;
    }
  }
  if (primary == 0x16) return langId;
  return static_cast<uint16_t>(0x0400 | primary);
}

std::filesystem::path LocalizedTextFile() {
#ifdef _WIN32
  std::wstring path = ExecutablePath();
  if (path.empty()) return {};
  const size_t slash = path.rfind(L'\\');
  if (slash != std::wstring::npos) path.resize(slash + 1);
  return path + L"data\\Update.ini";
#else
  std::string path = ExecutablePath();
  if (path.empty()) return {};
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos) path.resize(slash + 1);
  return path + "data/Update.ini";
#endif
}

void LoadLocalizedStringFrom(const std::filesystem::path& iniFile, uint16_t langId, const wchar_t* key,
                             wchar_t* out, uint32_t size) {
  if (!key || !out) return;
  const uint16_t mapped = MapTextLanguage(langId);
  if (size > 0) std::fill_n(out, size, L'\0');
  if (iniFile.empty()) return;

  wchar_t languageKey[kKeyChars] = {};
  wchar_t section[kSectionChars] = {};
  std::swprintf(languageKey, kKeyChars, L"0x%X", static_cast<unsigned>(mapped));
  ReadLocalizedProfileString(iniFile, kLanguageSection, languageKey, section, kSectionChars);
  if (section[0] == L'\0') {
    std::wcscpy(languageKey, kFallbackKey);
    ReadLocalizedProfileString(iniFile, kLanguageSection, languageKey, section, kSectionChars);
    if (section[0] == L'\0') return;
  }
  if (size > 0) ReadLocalizedProfileString(iniFile, section, key, out, size);
}

void LoadLocalizedString(uint16_t langId, const wchar_t* key, wchar_t* out, uint32_t size) {
  if (!key || !out) return;
  LoadLocalizedStringFrom(LocalizedTextFile(), langId, key, out, size);
}

void LoadLocalizedStringOr(uint16_t langId, const wchar_t* key, const wchar_t* fallback, wchar_t* out,
                           uint32_t size) {
  LoadLocalizedString(langId, key, out, size);
  if (!out || size == 0 || out[0] != L'\0' || !fallback) return;
  const size_t nCopy = std::min<size_t>(std::wcslen(fallback), size - 1);
  std::copy_n(fallback, nCopy, out);
  out[nCopy] = L'\0';
}
