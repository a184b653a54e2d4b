// The road to the controller: the Thunderbolt provider's three methods on the
// first SdkTbtController instance. The product links the WMI client; tests and
// tools link a simulated provider with the same functions.
#pragma once

#include <cstdint>
#include <functional>

#include "app/status.h"

// Connects to the provider once per process; true when connected.
bool TbtConnect();

// Finds the controller instance (run by every method call while none is known).
bool TbtFindController();

// Reads the installed NVM version. The version is left unchanged when the
// provider gives none.
TbtStatus TbtGetCurrentNvmVersion(uint32_t& version);

// Reads `length` bytes of the controller's NVM at `offset` into `buffer`.
TbtStatus TbtReadFirmware(uint32_t offset, uint32_t length, uint8_t* buffer);

// What became of an UpdateFirmware call beyond its status: only an executed
// call can have reached the controller, and only an answer says how it ended.
struct TbtWriteAnswer {
  bool executed = false;     // the method was called with the image: the provider may have written
  bool answered = false;     // its answer held a ReturnValue
  uint32_t returnValue = 0;  // that value, as the provider gave it
};

// Called once the call is ready, immediately before the method is executed:
// STATUS_OK lets it run; any other status stops it unexecuted and is the result.
using TbtBeforeWrite = std::function<TbtStatus()>;

// Hands the whole image to the provider, which writes it to the controller.
TbtStatus TbtUpdateFirmware(const uint8_t* image, int32_t size, const TbtBeforeWrite& beforeWrite,
                            TbtWriteAnswer& answer);
inline TbtStatus TbtUpdateFirmware(const uint8_t* image, int32_t size) {
  TbtWriteAnswer answer;
  return TbtUpdateFirmware(image, size, nullptr, answer);
}

// Asked before every method call: a run that must stop (its session is
// ending) answers a status, and the call returns it unexecuted. Set by the run
// on the thread that calls the provider, for as long as it runs; null: none.
using TbtCallGate = TbtStatus (*)(void* context);
void TbtSetCallGate(TbtCallGate gate, void* context);
// STATUS_OK when no gate is set or the gate lets the call through.
TbtStatus TbtCallGateCheck();
