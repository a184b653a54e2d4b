// A simulated Thunderbolt provider for tests and tools: the controller's NVM is
// a byte dump in the provider's offset space (active section at 0). Linking
// this library supplies the Tbt* functions of controller/tbt_provider.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/status.h"

struct SimProvider {
  // Set-up.
  std::vector<uint8_t> nvm;             // the controller's NVM dump
  uint32_t nvmVersion = 0;              // what GetCurrentNvmVersion reports
  bool connectOk = true;                // TbtConnect succeeds
  bool controllerListed = true;         // the provider lists an instance
  bool versionAvailable = true;         // GetCurrentNvmVersion yields NvmVersion
  TbtStatus versionReturn = STATUS_OK;  // ReturnValue of GetCurrentNvmVersion
  TbtStatus updateReturn = STATUS_OK;   // ReturnValue of UpdateFirmware
  bool updateAnswers = true;            // false: UpdateFirmware writes, then the call fails unanswered
  int64_t failReadAt = -1;              // a ReadFirmware at this word offset fails

  // Told of every method call before the run's gate is asked ("version",
  // "read", "update"), so a test can act between two calls.
  void (*onCall)(const char* method) = nullptr;

  // Record (calls the gate stopped are not counted).
  bool connected = false;
  uint32_t connectCalls = 0;
  uint32_t versionCalls = 0;
  uint32_t readCalls = 0;
  std::vector<uint32_t> readOffsets;  // offset of every ReadFirmware call
  uint32_t updateCalls = 0;
  std::vector<uint8_t> updatedImage;  // the bytes UpdateFirmware received
};

// The one simulated provider of the process; Reset restores defaults.
SimProvider& TheSimProvider();
void ResetSimProvider();

enum class SimLoad { kOk, kUnreadable, kTooLarge };
// Loads a whole file of at most `maxBytes`. Reading stops past the limit, so
// an endless device or a huge sparse file costs no more than the limit.
SimLoad SimLoadFile(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes);
