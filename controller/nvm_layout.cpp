#include "controller/nvm_layout.h"

#include <cstring>

#include "controller/tbt_provider.h"

namespace {

// The blocks of a chain lie in this order, which is not ascending bit order.
constexpr uint8_t kBlockOrder[] = {0x04, 0x02, 0x01, 0x10, 0x08, 0x20};
constexpr uint8_t kChainPresent = 0x40;

constexpr uint32_t kOffDeviceId = 0x05;
constexpr uint32_t kOffFlags = 0x02;
constexpr uint32_t kOffFirstBlock = 0x03;
constexpr uint32_t kOffVersion = 0x0A;
constexpr uint32_t kOffLink = 0x10E;
constexpr uint32_t kImageAltHeader = 0x1000;

struct DeviceEntry {
  uint16_t deviceId;
  int32_t family;
  uint32_t portConfig;
};

// 0x15DC and 0x15DE carry no flag of their own: they take 0, so the stricter
// rule set (the rows for port configuration 0) applies to them.
constexpr DeviceEntry kDevices[] = {
    {0x1567, 0, 1}, {0x1569, 0, 0}, {0x156B, 1, 1}, {0x156D, 1, 0}, {0x147E, 2, 1},
    {0x1576, 3, 1}, {0x1578, 3, 0}, {0x15BF, 4, 1}, {0x15C0, 4, 1}, {0x15DC, 4, 0},
    {0x15D2, 5, 0}, {0x15D3, 5, 0}, {0x15D9, 5, 1}, {0x15DA, 5, 1}, {0x15DE, 5, 0},
};

bool HasLinkedRegions(int32_t family) {
  return family >= 3 && family <= 5;
}

// An all-ones word marks erased flash, not a section: treat it like 0.
bool IsAbsentHeader(uint32_t word) {
  return word == 0 || word == 0xFFFF;
}

}  // namespace

bool NvmImage::Read(uint64_t offset, uint32_t width, uint32_t& value) const {
  if (data_ == nullptr || width == 0 || width > 4 || offset + width > size_) return false;
  uint32_t v = 0;
  for (uint32_t i = 0; i < width; ++i) v |= uint32_t{data_[offset + i]} << (8 * i);
  value = v;
  return true;
}

TbtStatus NvmRead(uint32_t offset, uint32_t length, uint8_t* buffer) {
  // 64-bit bounds so a request near the top of the offset space cannot wrap
  // around and loop; the provider only ever sees aligned whole words.
  uint64_t word = offset & ~uint32_t{3};
  uint32_t skip = offset & 3;
  const uint64_t end = uint64_t{offset} + length;
  uint32_t copied = 0;
  TbtStatus status = ERR_PROVIDER_FAILED;
  while (word < end) {
    if (word > UINT32_MAX) return ERR_PROVIDER_FAILED;
    uint8_t scratch[4] = {};
    status = TbtReadFirmware(static_cast<uint32_t>(word), 4, scratch);
    if (status != STATUS_OK) return status;
    for (uint32_t i = skip; i < 4 && copied < length; ++i) buffer[copied++] = scratch[i];
    skip = 0;
    word += 4;
  }
  return status;
}

TbtStatus NvmReadValue(uint32_t offset, uint32_t width, uint32_t& value) {
  uint8_t bytes[4] = {};
  if (width == 0 || width > 4) return ERR_PROVIDER_FAILED;
  TbtStatus status = NvmRead(offset, width, bytes);
  if (status != STATUS_OK) return status;
  value = uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
  return STATUS_OK;
}

TbtStatus LookupDeviceFamily(uint16_t deviceId, int32_t& family, uint32_t& portConfig) {
  for (const DeviceEntry& entry : kDevices) {
    if (entry.deviceId == deviceId) {
      family = entry.family;
      portConfig = entry.portConfig;
      return STATUS_OK;
    }
  }
  return ERR_UNKNOWN_DEVICE_ID;
}

TbtStatus ProbeControllerLayout(NvmLayout& layout) {
  layout.sectionBase = 0;
  TbtStatus status = TbtGetCurrentNvmVersion(layout.version);
  if (status != STATUS_OK) return status;

  // Every read must succeed: a layout built from bytes that were never read
  // could let a wrong image through.
  uint32_t deviceId = 0;
  if ((status = NvmReadValue(layout.sectionBase + kOffDeviceId, 2, deviceId)) != STATUS_OK) return status;
  if ((status = LookupDeviceFamily(static_cast<uint16_t>(deviceId), layout.family, layout.portConfig)) !=
      STATUS_OK) {
    return status;
  }
  if (!HasLinkedRegions(layout.family)) return STATUS_OK;

  uint32_t link = 0;
  if ((status = NvmReadValue(layout.sectionBase + kOffLink, 4, link)) != STATUS_OK) return status;
  layout.linkedBase = layout.sectionBase + link;
  layout.hasLinkedBase = true;

  uint32_t flags = 0;
  if ((status = NvmReadValue(layout.sectionBase + kOffFlags, 1, flags)) != STATUS_OK) return status;
  if ((flags & kChainPresent) == 0) return STATUS_OK;

  uint32_t first = 0;
  if ((status = NvmReadValue(layout.sectionBase + kOffFirstBlock, 2, first)) != STATUS_OK) return status;
  uint32_t cursor = layout.sectionBase + first;
  for (uint8_t bit : kBlockOrder) {
    if ((flags & bit) == 0) continue;
    uint32_t count = 0;
    if ((status = NvmReadValue(cursor, 2, count)) != STATUS_OK) return status;
    cursor += count * 4 + 2;
  }
  layout.chainBase = cursor;
  layout.hasChainBase = true;
  return STATUS_OK;
}

TbtStatus ProbeImageLayout(const NvmImage& image, NvmLayout& layout) {
  uint32_t base = 0;
  if (!image.Read(0, 2, base)) return ERR_IMAGE_UNUSABLE;
  if (IsAbsentHeader(base)) {
    if (!image.Read(kImageAltHeader, 2, base)) return ERR_IMAGE_UNUSABLE;
    if (IsAbsentHeader(base)) return ERR_IMAGE_UNUSABLE;
  }
  layout.sectionBase = base;

  if (!image.Read(uint64_t{base} + kOffVersion, 1, layout.version)) return ERR_IMAGE_UNUSABLE;
  uint32_t deviceId = 0;
  if (!image.Read(uint64_t{base} + kOffDeviceId, 2, deviceId)) return ERR_IMAGE_UNUSABLE;
  TbtStatus status = LookupDeviceFamily(static_cast<uint16_t>(deviceId), layout.family, layout.portConfig);
  if (status != STATUS_OK) return status;
  if (!HasLinkedRegions(layout.family)) return STATUS_OK;

  uint32_t link = 0;
  if (!image.Read(uint64_t{base} + kOffLink, 4, link)) return ERR_IMAGE_UNUSABLE;
  layout.linkedBase = base + link;  // only read through, never followed: no bound of its own
  layout.hasLinkedBase = true;

  uint32_t flags = 0;
  if (!image.Read(uint64_t{base} + kOffFlags, 1, flags)) return ERR_IMAGE_UNUSABLE;
  if ((flags & kChainPresent) == 0) return STATUS_OK;

  uint32_t first = 0;
  if (!image.Read(uint64_t{base} + kOffFirstBlock, 2, first)) return ERR_IMAGE_UNUSABLE;
  uint32_t cursor = base + first;
  for (uint8_t bit : kBlockOrder) {
    if ((flags & bit) == 0) continue;
    uint32_t count = 0;
    if (!image.Read(cursor, 2, count)) return ERR_IMAGE_UNUSABLE;
    cursor += count * 4 + 2;
  }
  layout.chainBase = cursor;
  layout.hasChainBase = true;
  return STATUS_OK;
}
