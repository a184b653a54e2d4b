#include "controller/acpi_request.h"

#include <cstring>

namespace {

void PutLe32(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value >> 16);
  out[3] = static_cast<uint8_t>(value >> 24);
}

}  // namespace

bool AcpiBuildRequest(uint32_t method, const void* payload, uint32_t payloadLength,
                      std::vector<uint8_t>& request) {
  request.clear();
  if (payloadLength > ACPI_MAX_PAYLOAD || (payloadLength > 0 && !payload)) return false;
  request.resize(ACPI_REQUEST_HEADER + payloadLength);
  PutLe32(request.data(), method);
  PutLe32(request.data() + 4, payloadLength);
  if (payloadLength > 0) std::memcpy(request.data() + ACPI_REQUEST_HEADER, payload, payloadLength);
  return true;
}

std::vector<uint8_t> AcpiDevsPayload(uint32_t deviceId, uint32_t state) {
  std::vector<uint8_t> payload(8);
  PutLe32(payload.data(), deviceId);
  PutLe32(payload.data() + 4, state);
  return payload;
}

uint32_t AcpiReadReply(const uint8_t* reply, uint32_t length) {
  if (!reply || length < 4) return 0;
  return uint32_t{reply[0]} | uint32_t{reply[1]} << 8 | uint32_t{reply[2]} << 16 | uint32_t{reply[3]} << 24;
}
