#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "controller/compat_rules.h"
#include "controller/tbt_provider.h"
#include "controller/version_policy.h"
#include "tools/samplegen/nvm_builder.h"
#include "tools/simprovider/sim_provider.h"

namespace {

constexpr uint32_t kImageBase = 0x4000;
constexpr uint32_t kSectionSize = 0x2400;

// A controller NVM and an image of the same board: every compared setting
// equal, the chain present on both sides for families 3 to 5.
struct Pair {
  NvmBuilder controller{kSectionSize, 0x5A};
  NvmBuilder image{kImageBase + kSectionSize, 0x5A};
  uint32_t controllerChain = 0, imageChain = 0;

  Pair(uint16_t deviceId, uint8_t imageVersion = 0x30) {
    controller.Section(0, deviceId, 0x11, 0x03);
    image.Put16(0, kImageBase).Section(kImageBase, deviceId, imageVersion, 0x03);
    controller.Link(0, 0x1000);
    image.Link(kImageBase, 0x1000);
    // Different chain shapes on the two sides: the rows must follow each side's own base.
    controllerChain = controller.Chain(0, 0x05, 0x300, {2, 0, 1});
    imageChain = image.Chain(kImageBase, 0x21, 0x380, {0, 0, 3, 0, 0, 1});
    for (uint32_t i = 0; i < 0x20; ++i) {
      controller.Put8(controllerChain + i, static_cast<uint8_t>(0xA0 + i));
      image.Put8(imageChain + i, static_cast<uint8_t>(0xA0 + i));
    }
  }
  uint32_t ImageBase(uint32_t region) const { return region == 2 ? imageChain : kImageBase; }
};

class CompatTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSimProvider(); }
  TbtStatus Run(const Pair& pair, uint32_t& version, CompatReport* report = nullptr, uint32_t size = 0) {
    ResetSimProvider();
    TbtConnect();
    TheSimProvider().nvm = pair.controller.bytes();
    TheSimProvider().nvmVersion = 0x20;
    const std::vector<uint8_t>& img = pair.image.bytes();
    return CheckImageCompatibility(img.data(), size ? size : static_cast<uint32_t>(img.size()), version,
                                   report);
  }
  TbtStatus Run(const Pair& pair) {
    uint32_t version = 0;
    return Run(pair, version);
  }
};

TEST(CompatTable, ShapeOfTheRuleTable) {
  ASSERT_EQ(g_nCompatRules, 54u);
  const int expectedFamilyOrder[] = {1, 2, 3, 5, 4};
  std::vector<int> order;
  int perFamily[6] = {};
  for (uint32_t i = 0; i < g_nCompatRules; ++i) {
    const CompatRule& r = g_CompatRules[i];
    if (order.empty() || order.back() != static_cast<int>(r.family)) order.push_back(r.family);
    ++perFamily[r.family];
    EXPECT_NE(r.family, 0u);
    EXPECT_NE(r.region, 1u);
    EXPECT_TRUE(r.width == 1 || r.width == 2 || r.width == 4);
    EXPECT_NE(r.label[0], 0) << i;
    EXPECT_EQ(r.label[19], 0) << i;
  }
  EXPECT_EQ(order, std::vector<int>(std::begin(expectedFamilyOrder), std::end(expectedFamilyOrder)));
  EXPECT_EQ(perFamily[1], 21);
  EXPECT_EQ(perFamily[2], 11);
  EXPECT_EQ(perFamily[3], 8);
  EXPECT_EQ(perFamily[4], 6);
  EXPECT_EQ(perFamily[5], 8);
  EXPECT_EQ(g_CompatRules[20].offset, 0x217Du);
  EXPECT_EQ(g_CompatRules[20].mask, 0xAAu);
  EXPECT_EQ(g_CompatRules[51].mask, 0x44u);
}

TEST_F(CompatTest, MatchingImagesPassForEveryKnownDevice) {
  for (uint16_t id : {0x156B, 0x156D, 0x147E, 0x1576, 0x1578, 0x15BF, 0x15C0, 0x15DC, 0x15D2, 0x15D3, 0x15D9,
                      0x15DA, 0x15DE}) {
    uint32_t version = 0xDEAD;
    EXPECT_EQ(Run(Pair(id, 0x30), version), STATUS_OK) << std::hex << id;
    EXPECT_EQ(version, 0x30u) << "the image's own byte, whatever the controller reports";
  }
}

// Each applicable row refuses a difference inside its mask at that very row,
// and ignores a difference outside it.
TEST_F(CompatTest, EveryRowComparesItsMaskedBytesOnItsOwnBase) {
  for (uint16_t id : {0x156B, 0x156D, 0x147E, 0x1576, 0x1578, 0x15BF, 0x15DC, 0x15D2, 0x15D9}) {
    int32_t family = 0;
    uint32_t portConfig = 0;
    ASSERT_EQ(LookupDeviceFamily(id, family, portConfig), STATUS_OK);
    for (uint32_t i = 0; i < g_nCompatRules; ++i) {
      const CompatRule& rule = g_CompatRules[i];
      if (static_cast<int32_t>(rule.family) != family) continue;
      if (rule.allPortConfigs == 0 && portConfig != 0) continue;
      if (rule.offset == 5) continue;  // the device ID row: changing it changes the family
      const uint32_t at = Pair(id).ImageBase(rule.region) + rule.offset + rule.width - 1;
      // The top byte of a wide value is always compared in full.
      const uint8_t inMask = rule.width > 1 ? 0x80 : static_cast<uint8_t>(rule.mask & (~rule.mask + 1));
      const uint8_t outMask = rule.width > 1 ? 0 : static_cast<uint8_t>(~rule.mask & 0xFF);

      Pair differs(id);
      differs.image.bytes()[at] ^= inMask;
      CompatReport report;
      uint32_t version = 0xDEAD;
      EXPECT_EQ(Run(differs, version, &report), ERR_IMAGE_MISMATCH)
          << std::hex << id << " row " << std::dec << i + 1;
      EXPECT_EQ(report.failedRow, static_cast<int32_t>(i));
      EXPECT_EQ(version, 0xDEADu) << "left unchanged on refusal";

      if (outMask != 0) {
        Pair ignored(id);
        ignored.image.bytes()[at] ^= outMask;
        EXPECT_EQ(Run(ignored), STATUS_OK) << std::hex << id << " row " << std::dec << i + 1;
      }
    }
  }
}

TEST_F(CompatTest, PortConfigZeroAppliesTheExtraRows) {
  // Family 1: 13 rows with port configuration 1, all 21 with 0.
  for (auto [id, rows] : {std::pair<uint16_t, int>{0x156B, 13}, {0x156D, 21}}) {
    Pair pair(id);
    Run(pair);
    const uint32_t probeAndFirstByte = 1 + 1;  // device ID, first byte
    uint32_t rowReads = TheSimProvider().readCalls - probeAndFirstByte;
    EXPECT_EQ(rowReads, static_cast<uint32_t>(rows)) << std::hex << id;  // every family-1 row reads one word
  }
}

TEST_F(CompatTest, OrderOfRefusals) {
  // Family 0 controller: refused before the image is looked at, even an unusable one.
  Pair family0(0x1567);
  family0.image.Put16(0, 0).Put16(0x1000, 0);
  EXPECT_EQ(Run(family0), ERR_UNSUPPORTED_FAMILY);

  Pair family3on5(0x15D9);
  family3on5.image.Put16(kImageBase + 5, 0x1576);
  EXPECT_EQ(Run(family3on5), ERR_FAMILY_MISMATCH);

  Pair portConfig(0x1578);
  portConfig.image.Put16(kImageBase + 5, 0x1576);
  EXPECT_EQ(Run(portConfig), ERR_PORT_CONFIG_MISMATCH);

  Pair sameFamily(0x15DA);
  sameFamily.image.Put16(kImageBase + 5, 0x15D9);
  CompatReport report;
  uint32_t version = 0;
  EXPECT_EQ(Run(sameFamily, version, &report), ERR_IMAGE_MISMATCH);
  EXPECT_EQ(report.failedRow, 40);  // row 41, "Device ID"

  Pair unknownImage(0x15DA);
  unknownImage.image.Put16(kImageBase + 5, 0x1575);
  EXPECT_EQ(Run(unknownImage), ERR_UNKNOWN_DEVICE_ID);
}

TEST_F(CompatTest, FirstByteLowThreeBits) {
  struct Case {
    uint8_t controller, image;
    TbtStatus status;
  } cases[] = {
      {0x02, 0x03, ERR_IMAGE_TOO_NEW}, {0x0A, 0x02, STATUS_OK}, {0xF8, 0x01, ERR_IMAGE_TOO_NEW},
      {0x07, 0x00, STATUS_OK},         {0x05, 0x05, STATUS_OK}, {0x00, 0xF8, STATUS_OK},
  };
  for (const Case& c : cases) {
    Pair pair(0x15D9);
    pair.controller.Put8(0, c.controller);
    pair.image.Put8(kImageBase, c.image);
    EXPECT_EQ(Run(pair), c.status) << int(c.controller) << "/" << int(c.image);
  }
}

TEST_F(CompatTest, MasksAndWideValues) {
  struct Case {
    uint8_t controller, image;
    TbtStatus status;
  } pa[] = {{0x33, 0x00, STATUS_OK}, {0x40, 0x00, ERR_IMAGE_MISMATCH}, {0xCC, 0xFF, STATUS_OK}};
  for (const Case& c : pa) {
    Pair pair(0x15D9);
    pair.controller.Put8(pair.controllerChain + 0x12, c.controller);
    pair.image.Put8(pair.imageChain + 0x12, c.image);
    EXPECT_EQ(Run(pair), c.status);
  }
  Pair pcie(0x15D9);
  pcie.controller.Put32(0x10, 0x11223344);
  pcie.image.Put32(kImageBase + 0x10, 0x99223344);
  EXPECT_EQ(Run(pcie), ERR_IMAGE_MISMATCH);
}

TEST_F(CompatTest, ChainedRegionOnOneSideOnly) {
  Pair neither(0x15D9);
  neither.controller.Put8(2, 0x07);
  neither.image.Put8(kImageBase + 2, 0x21);
  EXPECT_EQ(Run(neither), STATUS_OK);

  Pair controllerOnly(0x15D9);
  controllerOnly.image.Put8(kImageBase + 2, 0x21);
  CompatReport report;
  uint32_t version = 0;
  EXPECT_EQ(Run(controllerOnly, version, &report), ERR_IMAGE_MISMATCH);
  EXPECT_EQ(report.failedRow, 42);  // "PA" of family 5
  EXPECT_TRUE(report.chainMissing);

  Pair imageOnly(0x15D9);
  imageOnly.controller.Put8(2, 0x07);
  EXPECT_EQ(Run(imageOnly), ERR_IMAGE_MISMATCH);
}

TEST_F(CompatTest, ShortImagesAndFailedReadsNeverPass) {
  // A family-1 image that ends before its last row's byte.
  Pair family1(0x156D);
  CompatReport report;
  uint32_t version = 0;
  EXPECT_EQ(Run(family1, version, &report, kImageBase + 0x217D), ERR_IMAGE_UNUSABLE);
  EXPECT_EQ(report.failedRow, 20);
  EXPECT_EQ(Run(family1, version, nullptr, kImageBase + 0x217E), STATUS_OK);

  // A chained region that points past the image end.
  Pair chainOut(0x15D9);
  chainOut.image.Put16(kImageBase + 3, 0xFFF0);
  EXPECT_EQ(Run(chainOut), ERR_IMAGE_UNUSABLE);

  // The controller's dump ends before a row's offset: the failed read ends the check.
  Pair shortDump(0x156D);
  shortDump.controller.bytes().resize(0x2170);
  EXPECT_EQ(Run(shortDump), ERR_PROVIDER_FAILED);

  // Null or empty images.
  ResetSimProvider();
  TbtConnect();
  TheSimProvider().nvm = Pair(0x15D9).controller.bytes();
  EXPECT_EQ(CheckImageCompatibility(nullptr, 100, version), ERR_IMAGE_UNUSABLE);
  uint8_t one = 0;
  EXPECT_EQ(CheckImageCompatibility(&one, 0, version), ERR_IMAGE_UNUSABLE);
}

TEST_F(CompatTest, ProviderFailuresPassThrough) {
  Pair pair(0x15D9);
  ResetSimProvider();
  TheSimProvider().nvm = pair.controller.bytes();
  uint32_t version = 0;
  EXPECT_EQ(CheckImageCompatibility(pair.image.bytes().data(), 0x8000, version), ERR_PROVIDER_FAILED)
      << "not connected";
  TbtConnect();
  TheSimProvider().controllerListed = false;
  EXPECT_EQ(CheckImageCompatibility(pair.image.bytes().data(), 0x8000, version), ERR_CONTROLLER_NOT_FOUND);
}

TEST(VersionPolicy, Table) {
  struct Case {
    uint32_t image, current;
    int32_t downgradable;
    TbtStatus status;
  } cases[] = {
      {0x22, 0x20, 0, STATUS_OK},
      {0x20, 0x20, 0, STATUS_OK},
      {0x1E, 0x20, 0, ERR_DOWNGRADE_REFUSED},
      {0x1E, 0x20, 1, STATUS_OK},
      {0x1E, 0x20, -1, STATUS_OK},
      {0xFF, 0x80000000u, 0, ERR_DOWNGRADE_REFUSED},
      {0, 0, 0, STATUS_OK},
      {0x01, 0xFFFFFFFFu, 0, ERR_DOWNGRADE_REFUSED},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplyVersionPolicy(c.image, c.current, c.downgradable), c.status);
}

}  // namespace
