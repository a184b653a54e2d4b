#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
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

// The settings each family is checked on, written out here on their own, in
// the order they are evaluated, so that a typo in the rule table is caught.
struct ExpectedRow {
  uint32_t family, allPortConfigs, region, offset, width, mask;
  const char16_t* label;
};
const ExpectedRow kExpectedRows[] = {
    {1, 1, 0, 0x5, 2, 0xFF, u"Device ID"},
    {1, 1, 0, 0x10, 4, 0xFF, u"PCIe Settings"},
    {1, 1, 0, 0x143, 1, 0xFF, u"CIO-Port0_TX"},
    {1, 1, 0, 0x153, 1, 0xFF, u"CIO-Port0_RX"},
    {1, 1, 0, 0x147, 1, 0xFF, u"CIO-Port1_TX"},
    {1, 1, 0, 0x157, 1, 0xFF, u"CIO-Port1_RX"},
    {1, 0, 0, 0x14B, 1, 0xFF, u"CIO-Port2_TX"},
    {1, 0, 0, 0x15B, 1, 0xFF, u"CIO-Port2_RX"},
    {1, 0, 0, 0x14F, 1, 0xFF, u"CIO-Port3_TX"},
    {1, 0, 0, 0x15F, 1, 0xFF, u"CIO-Port3_RX"},
    {1, 1, 0, 0x211, 1, 0xFF, u"Snk0_0(DP-in)"},
    {1, 1, 0, 0x215, 1, 0xFF, u"Snk0_1(DP-in)"},
    {1, 1, 0, 0x219, 1, 0xFF, u"Snk0_2(DP-in)"},
    {1, 1, 0, 0x21D, 1, 0xFF, u"Snk0_3(DP-in)"},
    {1, 0, 0, 0x11C3, 1, 0xFF, u"Snk1_0(DP-in)"},
    {1, 0, 0, 0x11C7, 1, 0xFF, u"Snk1_1(DP-in)"},
    {1, 0, 0, 0x11CB, 1, 0xFF, u"Snk1_2(DP-in)"},
    {1, 0, 0, 0x11CF, 1, 0xFF, u"Snk1_3(DP-in)"},
    {1, 1, 0, 0x2175, 1, 0xFF, u"PA(DP-out)"},
    {1, 1, 0, 0x2179, 1, 0xFF, u"PB(DP-out)"},
    {1, 1, 0, 0x217D, 1, 0xAA, u"Src0(DP-out)"},
    {2, 1, 0, 0x5, 2, 0xFF, u"Device ID"},
    {2, 1, 0, 0x10, 4, 0xFF, u"PCIe Settings"},
    {2, 1, 0, 0x14F, 1, 0xFF, u"CIO-Port0_TX"},
    {2, 1, 0, 0x157, 1, 0xFF, u"CIO-Port0_RX"},
    {2, 1, 0, 0x153, 1, 0xFF, u"CIO-Port1_TX"},
    {2, 1, 0, 0x15B, 1, 0xFF, u"CIO-Port1_RX"},
    {2, 1, 0, 0x1F1, 1, 0xFF, u"Snk0_0(DP-in)"},
    {2, 1, 0, 0x1F5, 1, 0xFF, u"Snk0_1(DP-in)"},
    {2, 1, 0, 0x1F9, 1, 0xFF, u"Snk0_2(DP-in)"},
    {2, 1, 0, 0x1FD, 1, 0xFF, u"Snk0_3(DP-in)"},
    {2, 1, 0, 0x11A5, 1, 0xFF, u"PA(DP-out)"},
    {3, 1, 0, 0x5, 2, 0xFF, u"Device ID"},
    {3, 1, 0, 0x10, 4, 0xFF, u"PCIe Settings"},
    {3, 1, 2, 0x12, 1, 0xCC, u"PA"},
    {3, 0, 2, 0x13, 1, 0xCC, u"PB"},
    {3, 1, 0, 0x121, 1, 0xFF, u"Snk0"},
    {3, 1, 0, 0x129, 1, 0xFF, u"Snk1"},
    {3, 1, 0, 0x136, 1, 0xF0, u"Src0"},
    {3, 1, 0, 0xB6, 1, 0xC0, u"PA/PB (USB2)"},
    {5, 1, 0, 0x5, 2, 0xFF, u"Device ID"},
    {5, 1, 0, 0x10, 4, 0xFF, u"PCIe Settings"},
    {5, 1, 2, 0x12, 1, 0xCC, u"PA"},
    {5, 0, 2, 0x13, 1, 0xCC, u"PB"},
    {5, 1, 0, 0x121, 1, 0xFF, u"Snk0"},
    {5, 1, 0, 0x129, 1, 0xFF, u"Snk1"},
    {5, 1, 0, 0x136, 1, 0xF0, u"Src0"},
    {5, 1, 0, 0xB6, 1, 0xC0, u"PA/PB (USB2)"},
    {4, 1, 0, 0x5, 2, 0xFF, u"Device ID"},
    {4, 1, 0, 0x10, 4, 0xFF, u"PCIe Settings"},
    {4, 1, 2, 0x12, 1, 0xCC, u"PA"},
    {4, 0, 2, 0x13, 1, 0x44, u"PB"},
    {4, 1, 0, 0x121, 1, 0xFF, u"Snk0"},
    {4, 1, 0, 0xB6, 1, 0xC0, u"PA/PB (USB2)"},
};

TEST(CompatTable, EveryRowAsDocumented) {
  ASSERT_EQ(g_nCompatRules, std::size(kExpectedRows));
  for (uint32_t i = 0; i < g_nCompatRules; ++i) {
    const CompatRule& r = g_CompatRules[i];
    const ExpectedRow& e = kExpectedRows[i];
    SCOPED_TRACE(i + 1);
    EXPECT_EQ(r.family, e.family);
    EXPECT_EQ(r.allPortConfigs, e.allPortConfigs);
    EXPECT_EQ(r.region, e.region);
    EXPECT_EQ(r.offset, e.offset);
    EXPECT_EQ(r.width, e.width);
    EXPECT_EQ(r.mask, e.mask);
    EXPECT_EQ(std::u16string(r.label), std::u16string(e.label));
    EXPECT_EQ(r.label[19], 0);
  }
}

TEST_F(CompatTest, MatchingImagesPassForEveryKnownDevice) {
  for (uint16_t id : {0x156B, 0x156D, 0x147E, 0x1576, 0x1578, 0x15BF, 0x15C0, 0x15DC, 0x15D2, 0x15D3, 0x15D9,
                      0x15DA, 0x15DE}) {
    uint32_t version = 0xDEAD;
    EXPECT_EQ(Run(Pair(id, 0x30), version), STATUS_OK) << std::hex << id;
    EXPECT_EQ(version, 0x30u) << "the image's own byte, whatever the controller reports";
  }
}

// For every documented row and every device of its family: a bit that differs
// inside the row's mask is refused by that very row when the row applies to
// the controller's port configuration, and accepted when it does not; a bit
// outside the mask is always accepted. The top bytes of wide values are
// compared whole.
TEST_F(CompatTest, EveryRowComparesItsMaskedBitsOnItsOwnBaseForItsPortConfigurations) {
  // Both port configurations of each family that has them (0x15DC: family 4, 0).
  const uint16_t kDevices[] = {0x156B, 0x156D, 0x147E, 0x1576, 0x1578, 0x15BF, 0x15DC, 0x15D9, 0x15D2};
  for (uint32_t i = 0; i < std::size(kExpectedRows); ++i) {
    const ExpectedRow& row = kExpectedRows[i];
    if (row.region == 0 && row.offset == 5) continue;  // the device ID: below
    for (uint16_t id : kDevices) {
      int32_t family = 0;
      uint32_t portConfig = 0;
      ASSERT_EQ(LookupDeviceFamily(id, family, portConfig), STATUS_OK);
      if (static_cast<uint32_t>(family) != row.family) continue;
      const bool applies = row.allPortConfigs != 0 || portConfig == 0;
      for (uint32_t k = 0; k < row.width; ++k) {
        const uint32_t byteMask = k == 0 ? row.mask : 0xFF;
        for (uint32_t bit = 0; bit < 8; ++bit) {
          Pair pair(id);
          pair.image.bytes()[pair.ImageBase(row.region) + row.offset + k] ^= static_cast<uint8_t>(1u << bit);
          const bool refused = applies && (byteMask >> bit & 1);
          CompatReport report;
          uint32_t version = 0xDEAD;
          ASSERT_EQ(Run(pair, version, &report), refused ? ERR_IMAGE_MISMATCH : STATUS_OK)
              << "row " << i + 1 << ", device " << std::hex << id << ", byte " << k << ", bit " << bit;
          if (refused) {
            EXPECT_EQ(report.failedRow, static_cast<int32_t>(i));
            EXPECT_EQ(version, 0xDEADu) << "left unchanged on refusal";
          }
        }
      }
    }
  }
  // Device IDs of one family and port configuration differ in the ID row alone.
  const struct {
    uint16_t controller, image;
    int32_t row;
  } kSiblings[] = {{0x15D9, 0x15DA, 41}, {0x15D2, 0x15D3, 41}, {0x15BF, 0x15C0, 49}, {0x15C0, 0x15BF, 49}};
  for (const auto& s : kSiblings) {
    Pair pair(s.controller);
    pair.image.Put16(kImageBase + 5, s.image);
    CompatReport report;
    uint32_t version = 0;
    EXPECT_EQ(Run(pair, version, &report), ERR_IMAGE_MISMATCH) << std::hex << s.image;
    EXPECT_EQ(report.failedRow, s.row - 1);
    EXPECT_EQ(kExpectedRows[s.row - 1].offset, 5u);
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
      // Unsigned at the sign bit: a signed comparison would call these newer.
      {0x01, 0x80000000u, 0, ERR_DOWNGRADE_REFUSED},
      {0x01, 0x80000000u, 1, STATUS_OK},
      {0x80000000u, 0x7FFFFFFFu, 0, STATUS_OK},
      {0xFFFFFFFFu, 0x80000000u, 0, STATUS_OK},
  };
  for (const Case& c : cases) EXPECT_EQ(ApplyVersionPolicy(c.image, c.current, c.downgradable), c.status);
}

}  // namespace
