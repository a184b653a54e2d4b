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

bool ParseOptions(int argc, const wchar_t* const* argv, UpdateOptions& options) {
  ParseOptions(argc, argv, options.downgradable, options.langId);
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    const wchar_t* arg = argv[i];
    if (arg == nullptr || arg[0] != L'/') continue;
    if (EqualsIgnoreCase(arg, L"/s")) {
      options.silent = true;
    } else if (EqualsIgnoreCase(arg, L"/c")) {
      options.checkOnly = options.silent = true;
    } else if (EqualsIgnoreCase(arg, L"/?")) {
      options.help = true;
    } else if (IsLetter(arg[1], L'L') && arg[2] == L'=') {
      std::wstring path = arg + 3;
      // The runtime removes the quotes around a path with spaces; a pair
      // that reached us all the same is not part of the name.
      if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
        path = path.substr(1, path.size() - 2);
      if (!path.empty()) options.logPath = path;
    }
  }
  return true;
}
