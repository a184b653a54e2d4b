#include "app/options.h"

#include <climits>
#include <cstdint>
#include <cwchar>
#include <cwctype>

namespace {

bool EqualsIgnoreCase(const wchar_t* a, const wchar_t* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::towlower(static_cast<wint_t>(*a)) != std::towlower(static_cast<wint_t>(*b))) return false;
  }
  return *a == *b;
}

bool IsLetter(wchar_t c, wchar_t upper) {
  return c == upper || c == upper + (L'a' - L'A');
}

// Base-16 conversion with the semantics of a 32-bit `long` wcstol, the same on
// every platform: leading blanks, sign and "0x" accepted, 0 without digits,
// out-of-range values clamped to LONG_MIN/LONG_MAX of a 32-bit long.
int32_t HexToLong32(const wchar_t* text) {
  long long value = std::wcstoll(text, nullptr, 16);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

bool ParseOptions(int argc, const wchar_t* const* argv, int32_t& downgradable, uint16_t& langId) {
  if (argc <= 1 || argv == nullptr) return true;
  for (int i = 1; i < argc; ++i) {
    const wchar_t* arg = argv[i];
    if (arg == nullptr || arg[0] != L'/') continue;
    if (EqualsIgnoreCase(arg, L"/downgradable")) {
      downgradable = 1;
      continue;
    }
    if (std::wcslen(arg) > 5 && IsLetter(arg[1], L'L') && IsLetter(arg[2], L'I') && IsLetter(arg[3], L'D') &&
        arg[4] == L':') {
      langId = static_cast<uint16_t>(static_cast<uint32_t>(HexToLong32(arg + 5)) & 0xFFFF);
    }
  }
  return true;
}

namespace {

bool IsSwitch(const wchar_t* arg, const wchar_t* name) {
  return arg != nullptr && EqualsIgnoreCase(arg, name);
}

bool IsLogOption(const wchar_t* arg) {
  return arg[0] == L'/' && IsLetter(arg[1], L'L') && arg[2] == L'=';
}

bool IsLanguageOption(const wchar_t* arg) {
  return arg[0] == L'/' && IsLetter(arg[1], L'L') && IsLetter(arg[2], L'I') && IsLetter(arg[3], L'D') &&
         arg[4] == L':';
}

// A language id as a deployment line must give it: one to four hex digits,
// with or without "0x"; nothing else on the argument.
bool IsWellFormedLanguage(const wchar_t* value) {
  if (value[0] == L'0' && (value[1] == L'x' || value[1] == L'X')) value += 2;
  size_t digits = 0;
  for (; value[digits]; ++digits) {
    if (!std::iswxdigit(static_cast<wint_t>(value[digits]))) return false;
  }
  return digits >= 1 && digits <= 4;
}

// The length of a leading \\?\ that stands before a drive (\\?\C:\...) or a
// share (\\?\UNC\server\share\...): the one place a '?' belongs in a path.
// 0 for any other start (\\?\GLOBALROOT, \\?\Volume{...}, a '?' elsewhere).
size_t LongPathPrefixLength(const std::wstring& path) {
  if (path.compare(0, 4, L"\\\\?\\") != 0) return 0;
  const wchar_t drive = path.size() > 4 ? path[4] : L'\0';
  if (((drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z')) &&
      path.compare(5, 2, L":\\") == 0)
    return 4;
  if (path.size() > 8 && IsLetter(path[4], L'U') && IsLetter(path[5], L'N') && IsLetter(path[6], L'C') &&
      path[7] == L'\\')
    return 4;
  return 0;
}

// A path the log may be written to. A quote left inside means the runtime
// took a backslash before a closing quote as a literal quote, so the rest of
// the line (other options among it) ended up in the path; wildcards and
// control characters are never part of a file name.
bool IsWellFormedLogPath(const std::wstring& path) {
  if (path.empty()) return false;
  for (size_t i = LongPathPrefixLength(path); i < path.size(); ++i) {
    const wchar_t c = path[i];
    if (c == L'"' || c == L'*' || c == L'?' || c == L'<' || c == L'>' || c == L'|' || c < 0x20) return false;
  }
  return true;
}

// The value of "/l=", with a pair of quotes that reached us taken off.
std::wstring LogPathOf(const wchar_t* arg) {
  std::wstring path = arg + 3;
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
  return path;
}

bool IsKnownAndWellFormed(const wchar_t* arg) {
  if (arg == nullptr || arg[0] != L'/') return false;
  if (IsSwitch(arg, L"/s") || IsSwitch(arg, L"/c") || IsSwitch(arg, L"/?") || IsSwitch(arg, L"/downgradable"))
    return true;
  if (IsLogOption(arg)) return IsWellFormedLogPath(LogPathOf(arg));
  if (IsLanguageOption(arg)) return IsWellFormedLanguage(arg + 5);
  return false;
}

}  // namespace

bool ParseOptions(int argc, const wchar_t* const* argv, UpdateOptions& options) {
  ParseOptions(argc, argv, options.downgradable, options.langId);
  options.badArgument.clear();
  bool deployment = false;
  for (int i = 1; i < argc && argv != nullptr; ++i)
    deployment = deployment || IsSwitch(argv[i], L"/s") || IsSwitch(argv[i], L"/c");
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    const wchar_t* arg = argv[i];
    if (deployment && !IsKnownAndWellFormed(arg)) {
      // Nothing can be trusted of a line that was not meant as it reads.
      options.badArgument = arg ? arg : L"";
      if (options.badArgument.empty()) options.badArgument = L"\"\"";
      options.logPath.clear();
      return true;
    }
    if (arg == nullptr || arg[0] != L'/') continue;
    if (IsSwitch(arg, L"/s")) {
      options.silent = true;
    } else if (IsSwitch(arg, L"/c")) {
      options.checkOnly = options.silent = true;
    } else if (IsSwitch(arg, L"/?")) {
      options.help = true;
    } else if (IsLogOption(arg)) {
      // The window keeps no log rather than one at a path that was not meant.
      const std::wstring path = LogPathOf(arg);
      if (IsWellFormedLogPath(path)) options.logPath = path;
    }
  }
  return true;
}
