#include "tools/bench/family_images.h"

#include "tools/samplegen/nvm_builder.h"

namespace {

// Covers the highest compared offset of every family (0x217D for family 1).
constexpr uint32_t kSectionSize = 0x2200;

}  // namespace

uint16_t FamilyDeviceId(int family) {
  switch (family) {
    case 1: return 0x156B;
    case 2: return 0x147E;
    case 3: return 0x1576;
    case 4: return 0x15BF;
    case 5: return 0x15D9;
    default: return 0x1567;  // family 0
  }
}

FamilyPair BuildFamilyPair(int family, uint8_t imageVersion, uint16_t imageBase, uint8_t salt) {
  // Varied bytes everywhere, so a comparison that reads the wrong place fails.
  NvmBuilder section(kSectionSize);
  for (uint32_t i = 0; i < kSectionSize; ++i) section.Put8(i, static_cast<uint8_t>(i * 37 + 11));
  section.Section(0, FamilyDeviceId(family), imageVersion, 0x02);
  section.Put8(0x02, 0x00);
  if (family >= 3 && family <= 5) {
    section.Link(0, 0x800);
    section.Chain(0, 0x05, 0x300, {2, 0, 1, 0, 0, 0});
  }

  FamilyPair pair;
  pair.controller = section.bytes();
  NvmBuilder image(imageBase, static_cast<uint8_t>(0xC3 ^ salt));
  image.Put16(0, imageBase);
  pair.image = image.bytes();
  pair.image.insert(pair.image.end(), section.bytes().begin(), section.bytes().end());
  return pair;
}
