// Builds NVM contents (controller dumps and image files) for tests, seeds and
// the shipped samples: a little-endian byte canvas plus the section format.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

class NvmBuilder {
 public:
  explicit NvmBuilder(uint32_t size, uint8_t fill = 0) : bytes_(size, fill) {}

  NvmBuilder& Put8(uint32_t offset, uint8_t v) { return PutN(offset, v, 1); }
  NvmBuilder& Put16(uint32_t offset, uint16_t v) { return PutN(offset, v, 2); }
  NvmBuilder& Put32(uint32_t offset, uint32_t v) { return PutN(offset, v, 4); }
  NvmBuilder& PutN(uint32_t offset, uint32_t v, uint32_t width) {
    if (bytes_.size() < uint64_t{offset} + width) bytes_.resize(uint64_t{offset} + width);
    for (uint32_t i = 0; i < width; ++i) bytes_[offset + i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }

  // The fixed fields of an active section at `base`.
  NvmBuilder& Section(uint32_t base, uint16_t deviceId, uint8_t version, uint8_t firstByte = 0x02) {
    Put8(base + 0x00, firstByte);
    Put16(base + 0x05, deviceId);
    Put8(base + 0x0A, version);
    return *this;
  }

  // A block chain: flags at section + 2 (bit 0x40 added), first block at
  // section + firstBlock, one block per set bit in the order 0x04, 0x02,
  // 0x01, 0x10, 0x08, 0x20 with the given unit counts (indexed in that order).
  // Returns the chained region's offset.
  uint32_t Chain(uint32_t base, uint8_t blockBits, uint16_t firstBlock, std::array<uint16_t, 6> counts = {}) {
    static constexpr uint8_t kOrder[] = {0x04, 0x02, 0x01, 0x10, 0x08, 0x20};
    Put8(base + 0x02, static_cast<uint8_t>(blockBits | 0x40));
    Put16(base + 0x03, firstBlock);
    uint32_t cursor = base + firstBlock;
    for (int i = 0; i < 6; ++i) {
      if ((blockBits & kOrder[i]) == 0) continue;
      Put16(cursor, counts[i]);
      cursor += counts[i] * 4u + 2u;
    }
    return cursor;
  }

  NvmBuilder& Link(uint32_t base, uint32_t link) { return Put32(base + 0x10E, link); }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  std::vector<uint8_t>& bytes() { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};
