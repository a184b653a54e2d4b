// Feeds arbitrary argument vectors to the option parser. Input: UTF-16LE code
// units, a zero unit ending each argument (argv[0] is the program's name).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/options.h"

#define FUZZ_ASSERT(cond)          \
  do {                             \
    if (!(cond)) __builtin_trap(); \
  } while (0)

namespace {

constexpr size_t kMaxArguments = 64;

bool SameIgnoringCase(const std::wstring& a, const wchar_t* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    wchar_t x = a[i], y = b[i];
    if (x >= L'A' && x <= L'Z') x += L'a' - L'A';
    if (x != y) return false;
  }
  return i == a.size() && !b[i];
}

UpdateOptions Parse(const std::vector<std::wstring>& args) {
  std::vector<const wchar_t*> argv;
  for (const std::wstring& arg : args) argv.push_back(arg.c_str());
  UpdateOptions options;
  ParseOptions(static_cast<int>(argv.size()), argv.data(), options);
  return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::wstring> args{L"TbtFwUpdate.exe"};
  std::wstring arg;
  for (size_t i = 0; i + 1 < size && args.size() < kMaxArguments; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(data[i] | data[i + 1] << 8);
    if (unit == 0) {
      args.push_back(arg);
      arg.clear();
    } else {
      arg.push_back(unit);
    }
  }
  if (!arg.empty() && args.size() < kMaxArguments) args.push_back(arg);

  const UpdateOptions options = Parse(args);
  bool deployment = false;
  for (size_t i = 1; i < args.size(); ++i)
    deployment = deployment || SameIgnoringCase(args[i], L"/s") || SameIgnoringCase(args[i], L"/c");

  // A check-only run is always silent, and a log path is always a file name:
  // its one '?' may be that of a leading \\?\ before a drive or UNC\.
  FUZZ_ASSERT(!options.checkOnly || options.silent);
  FUZZ_ASSERT(options.logPath.find_first_of(L"\"*") == std::wstring::npos);
  const std::wstring& log = options.logPath;
  const bool longPath = log.compare(0, 4, L"\\\\?\\") == 0 &&
                        ((log.size() >= 7 && log[5] == L':' && log[6] == L'\\') ||
                         (log.size() > 8 && SameIgnoringCase(log.substr(4, 4), L"unc\\")));
  FUZZ_ASSERT(log.find(L'?', longPath ? 3 : 0) == std::wstring::npos);

  if (!options.badArgument.empty()) {
    // Only a deployment line is refused, naming one of its own arguments, and
    // a refused line keeps no log: the run touches nothing.
    FUZZ_ASSERT(deployment);
    FUZZ_ASSERT(options.logPath.empty());
    bool named = false;
    for (size_t i = 1; i < args.size(); ++i)
      named = named || args[i] == options.badArgument || (args[i].empty() && options.badArgument == L"\"\"");
    FUZZ_ASSERT(named);
    return 0;
  }
  // The window ignores what it does not know; a sound deployment line names
  // only known switches, in any order.
  if (deployment) {
    std::vector<std::wstring> reversed(args.rbegin(), args.rend() - 1);
    reversed.insert(reversed.begin(), args.front());
    const UpdateOptions again = Parse(reversed);
    FUZZ_ASSERT(again.badArgument.empty());
    FUZZ_ASSERT(again.silent == options.silent && again.checkOnly == options.checkOnly &&
                again.help == options.help && again.downgradable == options.downgradable);
  }
  return 0;
}
