// The control channel to the maker's ACPI driver. One process-wide handle
// with three states: empty (start, and after a close), open, and failed (what
// a failed open leaves). The dialog opens and closes it on its thread; the
// update worker only sends through it.
#pragma once

#include <cstdint>

// Opens the device; true when the channel is open. The outcome is kept as the
// channel's state either way.
bool AcpiOpen();

// Closes an open channel and empties it; false (nothing changed) otherwise.
bool AcpiClose();

// True when the channel is neither empty nor failed.
bool AcpiIsOpen();

// One request/reply exchange with `method` and the payload. `replyLength` is
// the capacity of `reply` on entry and the bytes delivered on success; on
// failure both are left as they were. Does not look at the channel's state.
bool AcpiCall(uint32_t method, const void* payload, uint32_t payloadLength, void* reply,
              uint32_t& replyLength);

// Sends DEVS {deviceId, state}. False, with no exchange, when the channel is
// not open; `reply` is the driver's 32-bit answer (0 for a short one) on success.
bool AcpiSetDeviceState(uint32_t deviceId, uint32_t state, uint32_t& reply);
