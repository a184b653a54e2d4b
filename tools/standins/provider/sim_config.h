// Settings and records of the simulated Thunderbolt provider. Everything the
// stand-in does is steered by <dir>\provider.ini and written to <dir>\provider.log,
// where <dir> is %TBTSIM_DIR% or C:\tbtsim.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/wide_utf8.h"

// The provider's own ReturnValue for a request it cannot serve (bad offset,
// length or buffer): the Win32 "invalid parameter" code.
constexpr uint32_t kSimReturnBadParameter = 87;
// The ReturnValue of an UpdateFirmware whose service cannot be reached
// (ERROR_SERVICE_NOT_ACTIVE): the image is then never written.
constexpr uint32_t kSimReturnServiceNotActive = 1062;
// Largest ReadFirmware request the simulated controller answers.
constexpr uint32_t kSimMaxReadLength = 4096;

// How UpdateFirmware's call fails after the write has run (UpdateCallFault=).
enum class SimCallFault {
  kNone,
  kExec,      // "exec": ExecMethod returns WBEM_E_FAILED with no out-parameters
  kNoReturn,  // "noreturn": the out-parameters carry no ReturnValue
};

struct SimConfig {
  std::wstring dir;           // config and record folder, no trailing backslash
  std::wstring controllerId;  // key of the first listed controller instance
  uint32_t controllers = 1;   // instances that the query lists, 0..4
  std::wstring nvmPath;       // resolved path of the NVM dump
  std::vector<uint8_t> nvm;   // the controller's NVM, active section at 0
  bool nvmLoaded = false;
  uint32_t nvmVersion = 0;              // what GetCurrentNvmVersion answers
  DWORD latencyMs = 0;                  // added to every method execution
  DWORD updateLatencyMs = 0;            // added to UpdateFirmware on top
  std::optional<uint32_t> failVersion;  // ReturnValue forced on GetCurrentNvmVersion
  std::optional<uint32_t> failRead;     // ... on ReadFirmware
  std::optional<uint32_t> failUpdate;   // ... on UpdateFirmware
  // Answers that claim success without the goods.
  std::optional<uint32_t> shortRead;  // ReadFirmware: this many bytes fewer than asked
  bool omitReadData = false;          // ReadFirmware: no data property
  bool omitNvmVersion = false;        // GetCurrentNvmVersion: no NvmVersion property
  std::wstring failPut;               // in-parameter whose Put fails with WBEM_E_FAILED
  // The ReadFirmware faults (failRead, shortRead, omitReadData) spare the
  // first this many ReadFirmware calls of the process; unset: none are spared.
  std::optional<uint32_t> faultAfter;
  SimCallFault updateCallFault = SimCallFault::kNone;
};

// The folder holding provider.ini and the records.
std::wstring SimDir();

// Reads <dir>\provider.ini and the NVM dump it names. Missing keys keep their
// defaults; a dump that cannot be read leaves nvmLoaded false (every read then
// fails with kSimReturnBadParameter).
std::shared_ptr<const SimConfig> SimLoadConfig();

// Parses a decimal or 0x-prefixed number; nullopt for empty or malformed text.
std::optional<uint32_t> SimParseNumber(const std::wstring& text);

// Appends one line "t=<unix seconds.millis> <text>" to <dir>\provider.log.
// Safe to call from several threads.
void SimRecord(const std::wstring& dir, const std::string& text);
// The same line appended to the file `path`.
void SimRecordIn(const std::wstring& path, const std::string& text);

// Writes `bytes` to `path`, replacing the file; false on failure.
bool SimWriteFile(const std::wstring& path, const uint8_t* bytes, size_t size);
