// The road to the controller: the Thunderbolt provider's three methods on the
// first SdkTbtController instance. The product links the WMI client; tests and
// tools link a simulated provider with the same functions.
#pragma once

#include <cstdint>

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

// Hands the whole image to the provider, which writes it to the controller.
TbtStatus TbtUpdateFirmware(const uint8_t* image, int32_t size);
