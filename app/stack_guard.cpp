// The stack canary of the program. The toolchain's own (libssp) asks a crypto
// provider for its value from a static constructor, before anything of ours
// runs: that loads the provider and its dependencies through the ordinary
// search, the exe's folder included, before the program can restrict it to
// System32. This one is made from values the process has at hand (as
// Microsoft's runtime does for its security cookie) and loads nothing.
#include <windows.h>

#include <cstdint>

extern "C" {

uintptr_t __stack_chk_guard = 0;

// A frame whose canary changed: end at once, without unwinding through it.
[[noreturn]] void __stack_chk_fail(void) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_STACK_BUFFER_OVERRUN));
  for (;;) {
  }
}

}  // extern "C"

namespace {

// First among the constructors; it must not check a canary it is changing.
__attribute__((constructor(101), no_stack_protector)) void SetStackGuard() {
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  FILETIME now{};
  ::GetSystemTimeAsFileTime(&now);
  uint64_t value = static_cast<uint64_t>(counter.QuadPart);
  value ^= (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  value ^= static_cast<uint64_t>(::GetCurrentProcessId()) << 16;
  value ^= static_cast<uint64_t>(::GetCurrentThreadId()) << 40;
  value ^= reinterpret_cast<uintptr_t>(&counter);  // where the stack lies (ASLR)
  value *= 0x9E3779B97F4A7C15ull;                  // spread every bit over the word
  value ^= value >> 29;
  const uintptr_t guard = static_cast<uintptr_t>(value ^ (value >> 32));
  // A zero canary would match a zeroed stack.
  __stack_chk_guard = guard ? guard : static_cast<uintptr_t>(0x2B992DDFA232ull);
}

}  // namespace
