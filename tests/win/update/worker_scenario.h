// One run of the update worker in a process of its own, started from a copy
// of the test executable in a sandbox folder, so that "data beside the
// executable" is a real folder the test prepares. The parent writes the
// scenario beside the copy; the child runs the worker on a real thread with
// the simulated provider and writes what happened beside itself.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/win/update/recording_machine.h"

// What the simulated provider and the update state hold when the worker starts.
struct ScenarioSetup {
  std::vector<uint8_t> nvm;
  uint32_t nvmVersion = 0x10;
  bool connectOk = true;
  bool controllerListed = true;
  bool versionAvailable = true;
  uint32_t versionReturn = 0;
  uint32_t updateReturn = 0;
  bool updateAnswers = true;  // false: the write happens, the call fails unanswered
  int64_t failReadAt = -1;
  int32_t downgradable = 0;
  // Reads of the image file deliver at most this many bytes in all (-1: all);
  // with imageReadFails a read past them fails instead of reporting 0 bytes.
  int64_t imageReadLimit = -1;
  bool imageReadFails = false;
  // Each read of the image delivers at most this many bytes (0: all it asks
  // for), as a network share hands a file over in complete pieces.
  uint32_t imageReadPiece = 0;
  int32_t checkOnly = 0;
  // The registry refuses to make the record's key, as it would for a run
  // without the rights to HKLM.
  bool recordFails = false;
  // The session starts to end at the first event that starts so ("sleep
  // 10000", "open", "log flush"), or before the n-th provider call of a kind
  // ("version 1", "read 3", "update 1"); empty: never.
  std::string sessionEndsAt;
};

// What the child saw.
struct ScenarioOutcome {
  bool ran = false;
  uint32_t status = 0;
  uint32_t threadExitCode = 0xFFFFFFFF;
  uint32_t connectCalls = 0, versionCalls = 0, readCalls = 0, updateCalls = 0;
  std::vector<WorkerEvent> events;
  std::vector<WorkerEvent>
      flushes;                   // the log's flushes: the line before each, and UpdateFirmware calls by then
  std::vector<uint8_t> written;  // the bytes UpdateFirmware received
  std::vector<std::string> log;  // the events of the run's log
  // Opens of files inside the data folder, in order.
  struct Open {
    std::wstring path;
    DWORD access, share, disposition, attributes;
    bool succeeded;
  };
  std::vector<Open> opens;
};

// Runs the child side when the command line asks for it; returns its exit code.
int RunScenarioChild();
bool IsScenarioChild(int argc, char** argv);

void WriteScenario(const std::wstring& folder, const ScenarioSetup& setup);
bool ReadOutcome(const std::wstring& folder, ScenarioOutcome& outcome);
