#include "controller/acpi_channel.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "controller/acpi_request.h"

namespace {

// Constant-initialised, so the channel is empty before any constructor runs.
HANDLE g_hAcpiDevice = nullptr;

bool IsOpenHandle(HANDLE h) {
  return h != nullptr && h != INVALID_HANDLE_VALUE;
}

}  // namespace

bool AcpiOpen() {
  g_hAcpiDevice = CreateFileW(L"\\\\.\\QMXACPI", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return IsOpenHandle(g_hAcpiDevice);
}

bool AcpiClose() {
  if (!IsOpenHandle(g_hAcpiDevice)) return false;
  CloseHandle(g_hAcpiDevice);
  g_hAcpiDevice = nullptr;
  return true;
}

bool AcpiIsOpen() {
  return IsOpenHandle(g_hAcpiDevice);
}

bool AcpiCall(uint32_t method, const void* payload, uint32_t payloadLength, void* reply,
              uint32_t& replyLength) {
  std::vector<uint8_t> request;
  if (!AcpiBuildRequest(method, payload, payloadLength, request)) return false;

  uint8_t answer[ACPI_REPLY_CAPACITY] = {};
  DWORD returned = 0;
  if (!DeviceIoControl(g_hAcpiDevice, IOCTL_QMXACPI_CALL, request.data(), static_cast<DWORD>(request.size()),
                       answer, sizeof(answer), &returned, nullptr)) {
    return false;
  }
  // A driver that claims more than the buffer it was offered is not believed.
  const uint32_t delivered = std::min<uint32_t>({replyLength, returned, ACPI_REPLY_CAPACITY});
  if (delivered > 0 && reply) std::memcpy(reply, answer, delivered);
  replyLength = reply ? delivered : 0;
  return true;
}

bool AcpiSetDeviceState(uint32_t deviceId, uint32_t state, uint32_t& reply) {
  if (!IsOpenHandle(g_hAcpiDevice)) return false;
  const std::vector<uint8_t> payload = AcpiDevsPayload(deviceId, state);
  uint8_t answer[4] = {};
  uint32_t answerLength = sizeof(answer);
  if (!AcpiCall(ACPI_METHOD_DEVS, payload.data(), static_cast<uint32_t>(payload.size()), answer,
                answerLength))
    return false;
  reply = AcpiReadReply(answer, answerLength);
  return true;
}
