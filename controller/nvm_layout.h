// Where the compared settings of an NVM lie: the active section, the linked
// region and the chained region, probed from the controller or from an image.
#pragma once

#include <cstdint>

#include "app/status.h"

struct NvmLayout {
  uint32_t version = 0;      // controller: reported NVM version; image: byte at section + 0x0A
  int32_t family = 0;        // controller family 0..5 from the device-ID table
  uint32_t portConfig = 0;   // port-configuration flag 0/1 from the device-ID table
  uint32_t sectionBase = 0;  // region 0: the active section (0 on the controller)
  uint32_t linkedBase = 0;   // region 1: families 3..5 only
  uint32_t chainBase = 0;    // region 2: families 3..5 with a block chain only
  bool hasLinkedBase = false;
  bool hasChainBase = false;
};

// Bounds-checked little-endian reads of an image held in memory. Every read of
// untrusted image bytes goes through here.
class NvmImage {
 public:
  NvmImage(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
  uint32_t size() const { return size_; }
  // Reads `width` (1, 2 or 4) bytes at `offset`; false when they leave the image.
  bool Read(uint64_t offset, uint32_t width, uint32_t& value) const;

 private:
  const uint8_t* data_;
  uint32_t size_;
};

// Copies `length` bytes of the controller's NVM at `offset` into `buffer`,
// asking the provider for whole aligned 4-byte words only, without caching.
TbtStatus NvmRead(uint32_t offset, uint32_t length, uint8_t* buffer);

// Reads a little-endian value of `width` bytes (1, 2 or 4) from the controller.
TbtStatus NvmReadValue(uint32_t offset, uint32_t width, uint32_t& value);

// Maps a device ID to its family and port-configuration flag; writes nothing
// and returns ERR_UNKNOWN_DEVICE_ID for an ID outside the table.
TbtStatus LookupDeviceFamily(uint16_t deviceId, int32_t& family, uint32_t& portConfig);

TbtStatus ProbeControllerLayout(NvmLayout& layout);
TbtStatus ProbeImageLayout(const NvmImage& image, NvmLayout& layout);
