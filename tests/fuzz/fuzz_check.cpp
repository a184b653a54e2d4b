// Feeds arbitrary image bytes and controller NVM dumps to the compatibility
// check and the version policy. Input: u32 current version, u8 options,
// u16 dump length, the dump, then the image (the rest).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "controller/compat_rules.h"
#include "controller/tbt_provider.h"
#include "controller/version_policy.h"
#include "tools/simprovider/sim_provider.h"

#define FUZZ_ASSERT(cond)          \
  do {                             \
    if (!(cond)) __builtin_trap(); \
  } while (0)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 7) return 0;
  uint32_t currentVersion;
  std::memcpy(&currentVersion, data, 4);
  const uint8_t options = data[4];
  size_t dumpLength = data[5] | size_t{data[6]} << 8;
  data += 7;
  size -= 7;
  if (dumpLength > size) dumpLength = size;

  ResetSimProvider();
  SimProvider& provider = TheSimProvider();
  provider.nvm.assign(data, data + dumpLength);
  provider.nvmVersion = currentVersion;
  if (options & 1) provider.failReadAt = (options >> 1) * 4;
  TbtConnect();

  // The image gets a buffer of exactly its size, so any read past it is caught.
  std::vector<uint8_t> image(data + dumpLength, data + size);
  CompatReport report;
  uint32_t imageVersion = 0xFFFFFFFF;
  TbtStatus status = CheckImageCompatibility(image.empty() ? nullptr : image.data(),
                                             static_cast<uint32_t>(image.size()), imageVersion, &report);

  // Bounded work: the probe and the rules read a fixed number of words.
  FUZZ_ASSERT(provider.readCalls <= 64);
  for (uint32_t offset : provider.readOffsets) FUZZ_ASSERT(offset % 4 == 0);
  if (status == STATUS_OK) {
    FUZZ_ASSERT(report.controller.family >= 1 && report.controller.family <= 5);
    FUZZ_ASSERT(report.image.family == report.controller.family);
    FUZZ_ASSERT(report.image.portConfig == report.controller.portConfig);
    FUZZ_ASSERT(report.imageFirstBits <= report.controllerFirstBits);
    FUZZ_ASSERT(report.image.sectionBase + 0x0Au < image.size());
    FUZZ_ASSERT(imageVersion == image[report.image.sectionBase + 0x0A]);
    TbtStatus policy = ApplyVersionPolicy(imageVersion, currentVersion, options & 0x80);
    FUZZ_ASSERT(policy == STATUS_OK || (imageVersion < currentVersion && !(options & 0x80)));
  } else {
    FUZZ_ASSERT(imageVersion == 0xFFFFFFFF);
  }
  return 0;
}
