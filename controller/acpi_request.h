// The request and reply layout of the maker's ACPI control driver. Platform
// free, so the exact bytes can be checked on any host.
#pragma once

#include <cstdint>
#include <vector>

// Device control code of one exchange: FILE_DEVICE_UNKNOWN, function 0x903,
// METHOD_BUFFERED, FILE_ANY_ACCESS.
constexpr uint32_t IOCTL_QMXACPI_CALL = 0x0022240C;

// Method codes are four ASCII characters, the first in the lowest byte.
constexpr uint32_t ACPI_METHOD_DEVS = 0x53564544;  // "DEVS"

// The platform device that the update switches on before the work and off after it.
constexpr uint32_t TBT_ACPI_DEVICE_ID = 0x00060057;
constexpr uint32_t ACPI_DEVICE_OFF = 0;
constexpr uint32_t ACPI_DEVICE_ON = 1;

// Bytes the driver may return in one exchange.
constexpr uint32_t ACPI_REPLY_CAPACITY = 1024;

// Size of the request header in front of the payload: method code and length.
constexpr uint32_t ACPI_REQUEST_HEADER = 8;

// Largest payload one request carries. The driver's requests are a few bytes;
// the ceiling keeps a wild length from turning into a huge allocation.
constexpr uint32_t ACPI_MAX_PAYLOAD = 64 * 1024;

// Fills `request` with the n + 8 request bytes: method code, n, then the
// payload, little-endian. False (and `request` emptied) when the payload is
// missing or longer than ACPI_MAX_PAYLOAD.
bool AcpiBuildRequest(uint32_t method, const void* payload, uint32_t payloadLength,
                      std::vector<uint8_t>& request);

// The 8-byte payload of a DEVS request: device id, then state.
std::vector<uint8_t> AcpiDevsPayload(uint32_t deviceId, uint32_t state);

// A reply read as one 32-bit little-endian value; 0 when fewer than 4 bytes came back.
uint32_t AcpiReadReply(const uint8_t* reply, uint32_t length);
