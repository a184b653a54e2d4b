// The record of the last attempt that fleet tools read as a detection rule, as
// firmware capsules report theirs: HKLM\SOFTWARE\Vorn\TbtFwUpdate in the
// 64-bit view of the registry, so inventory tools find it at that path
// whether they are 32- or 64-bit programs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr wchar_t kAttemptRecordKey[] = L"SOFTWARE\\Vorn\\TbtFwUpdate";

// Every value is written on every attempt: one the attempt did not reach is
// 0 or empty, never left from an older attempt.
struct AttemptRecord {
  uint32_t status = 0;                // the run's final status; ERR_INTERRUPTED while the write runs
  uint32_t providerCode = 0;          // UpdateFirmware's ReturnValue as the provider gave it; 0 without one
  uint32_t versionBeforeAttempt = 0;  // the controller's, as read at the start; 0 when not read
  uint32_t imageVersion = 0;          // from the image's header; 0 when it could not be read
  std::string imageSha256;            // lower-case hex; empty when the image was not read
  bool checkOnly = false;             // writes LastCheck* only, never hiding a real attempt
};

// Writes the record under `hRoot`\`subkey` (64-bit view), stamped with the
// time now (ISO 8601, UTC). The version before the attempt goes under its
// own name and, for readers of the previous release, as ControllerVersion.
// Returns ERROR_SUCCESS or the registry's error.
LONG WriteAttemptRecord(HKEY hRoot, const wchar_t* subkey, const AttemptRecord& record);

// Writes `record` to HKLM and logs what was written, or why not; false when
// it could not be written. Only the write itself depends on that: without
// "interrupted" on record no image is handed over.
bool RecordAttempt(const AttemptRecord& record);

// The last update attempt on record, as a run finds it before its own.
struct RecordedAttempt {
  uint32_t status = 0;
  uint32_t imageVersion = 0;
  std::wstring imageSha256;
  std::wstring time;
};
// False when there is no record of an update attempt.
bool ReadAttemptRecord(HKEY hRoot, const wchar_t* subkey, RecordedAttempt& attempt);

// Logs an attempt on record that was handed to the provider and never
// answered (the run that made it was ended, or the call failed): when, and
// which image. Call with the update lock held, so that no running attempt is
// mistaken for one.
void LogInterruptedAttempt();

// What was handed to the provider since the computer started. Kept in a
// volatile key beside the record (kThisBootKey), which Windows discards at
// every restart and no change of the clock touches: a restart is the one
// event that ends "this boot", as it is the one that makes the controller
// run what was written.
constexpr wchar_t kThisBootKey[] = L"SOFTWARE\\Vorn\\TbtFwUpdate\\ThisBoot";
enum class BootAttempt {
  kNone,         // nothing handed over since the start
  kInterrupted,  // handed over, and no answer yet: interrupted, unknown, or still being written
  kWritten,      // written, and the provider said so; the controller runs it after a shutdown
};
struct ThisBootAttempt {
  BootAttempt kind = BootAttempt::kNone;
  std::wstring imageSha256;  // of the image handed over
  std::wstring time;         // when, ISO 8601 UTC
};
// A key that exists but cannot be read, or holds anything else, counts as
// interrupted: the safe side.
ThisBootAttempt ReadThisBoot();
// Sets (kInterrupted, kWritten) or clears (kNone) this boot's attempt; false
// when that could not be done.
bool MarkThisBoot(BootAttempt kind, const std::string& imageSha256 = std::string());

// "2026-12-08T06:42:43Z" for `time`.
std::wstring Iso8601Utc(const SYSTEMTIME& time);
