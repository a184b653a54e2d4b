// The record of the last attempt that fleet tools read as a detection rule, as
// firmware capsules report theirs: HKLM\SOFTWARE\Vorn\TbtFwUpdate in the
// 64-bit view of the registry, so inventory tools find it at that path
// whether they are 32- or 64-bit programs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

constexpr wchar_t kAttemptRecordKey[] = L"SOFTWARE\\Vorn\\TbtFwUpdate";

struct AttemptRecord {
  uint32_t status = 0;             // the run's final status
  uint32_t controllerVersion = 0;  // as read at the start
  uint32_t imageVersion = 0;       // 0 when the image was not read
  std::string imageSha256;         // lower-case hex; empty when the image was not read
  bool checkOnly = false;          // writes LastCheck* only, never hiding a real attempt
};

// Writes the record under `hRoot`\`subkey` (64-bit view), stamped with the
// time now (ISO 8601, UTC). Returns ERROR_SUCCESS or the registry's error.
LONG WriteAttemptRecord(HKEY hRoot, const wchar_t* subkey, const AttemptRecord& record);

// "2026-12-08T06:42:43Z" for `time`.
std::wstring Iso8601Utc(const SYSTEMTIME& time);
