#include "tools/standins/provider/sim_hold.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/standins/provider/sim_config.h"

namespace {

constexpr DWORD kPollMs = 50;
constexpr ULONGLONG kLongestHoldMs = 10 * 60 * 1000;

// One process counts each request down at a time; the file is its only state.
SRWLOCK g_holdLock = SRWLOCK_INIT;

// "STEP K" from hold.txt; false when the file is absent or says something else.
bool ReadArm(const std::wstring& path, std::string& step, unsigned long& count) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char text[64] = {};
  DWORD got = 0;
  const BOOL read = ReadFile(file, text, sizeof text - 1, &got, nullptr);
  CloseHandle(file);
  if (!read) return false;
  text[got] = '\0';
  const char* space = std::strchr(text, ' ');
  if (!space || space == text) return false;
  char* end = nullptr;
  count = std::strtoul(space + 1, &end, 10);
  if (end == space + 1) return false;
  step.assign(text, static_cast<size_t>(space - text));
  return true;
}

void WriteArm(const std::wstring& path, const char* step, unsigned long count) {
  char text[64];
  const int n = snprintf(text, sizeof text, "%s %lu", step, count);
  SimWriteFile(path, reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(n));
}

// Counts this request down; true when it is the one to hold.
bool TakeTurn(const std::wstring& arm, const char* step) {
  AcquireSRWLockExclusive(&g_holdLock);
  std::string armed;
  unsigned long count = 0;
  const bool mine = ReadArm(arm, armed, count) && armed == step && count > 0;
  if (mine) WriteArm(arm, step, count - 1);
  ReleaseSRWLockExclusive(&g_holdLock);
  return mine && count == 1;
}

// The held request goes on once hold.txt no longer says "STEP 0": deleted,
// or naming the next step to hold.
bool StillHeld(const std::wstring& arm, const char* step) {
  std::string armed;
  unsigned long count = 0;
  return ReadArm(arm, armed, count) && armed == step && count == 0;
}

}  // namespace

void SimHoldPoint(const std::wstring& dir, const char* step, const char* who, const std::string& what) {
  const std::wstring arm = dir + L"\\hold.txt";
  if (!TakeTurn(arm, step)) return;
  const std::wstring record = dir + L"\\hold.log";
  SimRecordIn(record, std::string("HELD ") + step + " by=" + who + (what.empty() ? "" : " " + what));
  const ULONGLONG started = GetTickCount64();
  while (StillHeld(arm, step) && GetTickCount64() - started < kLongestHoldMs) Sleep(kPollMs);
  SimRecordIn(record, std::string("RELEASED ") + step + " by=" + who);
}
