#include <gtest/gtest.h>

#include <vector>

#include "controller/nvm_layout.h"
#include "controller/tbt_provider.h"
#include "tools/samplegen/nvm_builder.h"
#include "tools/simprovider/sim_provider.h"

namespace {

class NvmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSimProvider();
    TbtConnect();
  }
  SimProvider& provider() { return TheSimProvider(); }
  void SetNvm(std::vector<uint8_t> bytes) { provider().nvm = std::move(bytes); }
  std::vector<uint8_t> Counting(uint32_t size) {
    std::vector<uint8_t> bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
  }
};

using NvmReadTest = NvmTest;

TEST_F(NvmReadTest, AsksForAlignedWordsAndCopiesOnlyTheRequestedBytes) {
  SetNvm(Counting(0x2200));
  const std::vector<uint8_t> nvm = provider().nvm;
  struct Case {
    uint32_t offset, length;
    std::vector<uint32_t> words;
  } cases[] = {
      {5, 2, {4}}, {3, 2, {0, 4}},    {0x217D, 1, {0x217C}}, {0x10E, 4, {0x10C, 0x110}},
      {0, 4, {0}}, {1, 9, {0, 4, 8}},
  };
  for (const Case& c : cases) {
    provider().readOffsets.clear();
    std::vector<uint8_t> buffer(c.length + 4, 0xEE);
    ASSERT_EQ(NvmRead(c.offset, c.length, buffer.data()), STATUS_OK);
    EXPECT_EQ(provider().readOffsets, c.words) << "offset " << c.offset;
    for (uint32_t i = 0; i < c.length; ++i) EXPECT_EQ(buffer[i], nvm[c.offset + i]);
    for (uint32_t i = c.length; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << "wrote past length";
  }
}

TEST_F(NvmReadTest, ZeroLengthAsksNothingAndFails) {
  SetNvm(Counting(64));
  uint8_t byte = 0xEE;
  EXPECT_EQ(NvmRead(8, 0, &byte), ERR_PROVIDER_FAILED);
  EXPECT_EQ(provider().readCalls, 0u);
  EXPECT_EQ(byte, 0xEE);
}

TEST_F(NvmReadTest, FailedSecondWordKeepsFirstBytesAndReturnsItsStatus) {
  SetNvm(Counting(64));
  provider().failReadAt = 4;
  uint8_t buffer[2] = {0xEE, 0xEE};
  EXPECT_EQ(NvmRead(3, 2, buffer), ERR_PROVIDER_FAILED);
  EXPECT_EQ(buffer[0], provider().nvm[3]);
  EXPECT_EQ(buffer[1], 0xEE);
  EXPECT_EQ(provider().readOffsets, (std::vector<uint32_t>{0, 4}));
}

TEST_F(NvmReadTest, NoCachingAndNoWrapAtTheTopOfTheOffsetSpace) {
  SetNvm(Counting(64));
  uint8_t b[2];
  NvmRead(5, 2, b);
  NvmRead(5, 2, b);
  EXPECT_EQ(provider().readCalls, 2u);
  provider().readOffsets.clear();
  EXPECT_EQ(NvmRead(0xFFFFFFFE, 4, b), ERR_PROVIDER_FAILED);  // would wrap: the dump has no such bytes
  for (uint32_t off : provider().readOffsets) EXPECT_GE(off, 0xFFFFFFFCu);
}

TEST(LookupDeviceFamily, Table) {
  struct Case {
    uint16_t id;
    TbtStatus status;
    int32_t family;
    uint32_t portConfig;
  } cases[] = {
      {0x1567, STATUS_OK, 0, 1},
      {0x1569, STATUS_OK, 0, 0},
      {0x156B, STATUS_OK, 1, 1},
      {0x156D, STATUS_OK, 1, 0},
      {0x147E, STATUS_OK, 2, 1},
      {0x1576, STATUS_OK, 3, 1},
      {0x1578, STATUS_OK, 3, 0},
      {0x15BF, STATUS_OK, 4, 1},
      {0x15C0, STATUS_OK, 4, 1},
      {0x15DC, STATUS_OK, 4, 0},
      {0x15D2, STATUS_OK, 5, 0},
      {0x15D3, STATUS_OK, 5, 0},
      {0x15D9, STATUS_OK, 5, 1},
      {0x15DA, STATUS_OK, 5, 1},
      {0x15DE, STATUS_OK, 5, 0},
      {0x1575, ERR_UNKNOWN_DEVICE_ID, -7, 9},
      {0x0000, ERR_UNKNOWN_DEVICE_ID, -7, 9},
      {0xFFFF, ERR_UNKNOWN_DEVICE_ID, -7, 9},
  };
  for (const Case& c : cases) {
    int32_t family = -7;
    uint32_t portConfig = 9;
    EXPECT_EQ(LookupDeviceFamily(c.id, family, portConfig), c.status) << std::hex << c.id;
    EXPECT_EQ(family, c.family) << std::hex << c.id;
    EXPECT_EQ(portConfig, c.portConfig) << std::hex << c.id;
  }
}

using ControllerProbeTest = NvmTest;

TEST_F(ControllerProbeTest, EarlyFamiliesStopAfterTheDeviceId) {
  for (uint16_t id : {0x1567, 0x156B, 0x147E}) {
    ResetSimProvider();
    TbtConnect();
    NvmBuilder nvm(0x400);
    nvm.Section(0, id, 0).Link(0, 0x100);
    SetNvm(nvm.bytes());
    provider().nvmVersion = 0x33;
    NvmLayout layout;
    ASSERT_EQ(ProbeControllerLayout(layout), STATUS_OK);
    EXPECT_EQ(provider().readOffsets, (std::vector<uint32_t>{4}));
    EXPECT_EQ(layout.version, 0x33u);
    EXPECT_FALSE(layout.hasLinkedBase);
    EXPECT_FALSE(layout.hasChainBase);
  }
}

TEST_F(ControllerProbeTest, WalksTheChainInBlockOrder) {
  NvmBuilder nvm(0x400);
  nvm.Section(0, 0x15D9, 0);
  // 0x47: blocks 0x04, 0x02, 0x01 with 1, 2 and 3 units from 0x100.
  uint32_t chain = nvm.Chain(0, 0x07, 0x100, {1, 2, 3});
  ASSERT_EQ(chain, 0x11Eu);
  SetNvm(nvm.bytes());
  NvmLayout layout;
  ASSERT_EQ(ProbeControllerLayout(layout), STATUS_OK);
  EXPECT_EQ(layout.family, 5);
  EXPECT_EQ(layout.portConfig, 1u);
  EXPECT_TRUE(layout.hasLinkedBase);
  EXPECT_TRUE(layout.hasChainBase);
  EXPECT_EQ(layout.chainBase, 0x11Eu);
  // device id, link (2 words), flags, first block (2 words), three counts
  EXPECT_EQ(provider().readOffsets, (std::vector<uint32_t>{4, 0x10C, 0x110, 0, 0, 4, 0x100, 0x104, 0x110}));
}

TEST_F(ControllerProbeTest, OrderOfBlocksIsNotAscendingBitOrder) {
  NvmBuilder nvm(0x400);
  nvm.Section(0, 0x1578, 0);
  // Only 0x10 and 0x08: counts are read for 0x10 first.
  nvm.Put8(2, 0x40 | 0x18).Put16(3, 0x100).Put16(0x100, 2).Put16(0x10A, 5);
  SetNvm(nvm.bytes());
  NvmLayout layout;
  ASSERT_EQ(ProbeControllerLayout(layout), STATUS_OK);
  EXPECT_EQ(layout.chainBase, 0x100u + 10 + 22);
}

TEST_F(ControllerProbeTest, ChainFlagClearOrNoBlocks) {
  NvmBuilder a(0x200);
  a.Section(0, 0x15BF, 0).Put8(2, 0x3F).Link(0, 0x180);
  SetNvm(a.bytes());
  NvmLayout layout;
  ASSERT_EQ(ProbeControllerLayout(layout), STATUS_OK);
  EXPECT_FALSE(layout.hasChainBase);
  EXPECT_TRUE(layout.hasLinkedBase);
  EXPECT_EQ(layout.linkedBase, 0x180u);

  NvmBuilder b(0x200);
  b.Section(0, 0x15BF, 0).Put8(2, 0x40).Put16(3, 0x123);
  SetNvm(b.bytes());
  NvmLayout layout2;
  ASSERT_EQ(ProbeControllerLayout(layout2), STATUS_OK);
  EXPECT_EQ(layout2.chainBase, 0x123u);
}

TEST_F(ControllerProbeTest, FailuresAreReported) {
  // Version unavailable: nothing else is read.
  provider().versionReturn = 0x55;
  NvmLayout layout;
  EXPECT_EQ(ProbeControllerLayout(layout), 0x55u);
  EXPECT_EQ(provider().readCalls, 0u);

  // Unknown controller device id.
  ResetSimProvider();
  TbtConnect();
  NvmBuilder unknown(0x200);
  unknown.Section(0, 0x1575, 0);
  SetNvm(unknown.bytes());
  EXPECT_EQ(ProbeControllerLayout(layout), ERR_UNKNOWN_DEVICE_ID);

  // The dump ends inside the link: the failed read ends the probe.
  NvmBuilder shortNvm(0x10C);
  shortNvm.Section(0, 0x15D9, 0);
  SetNvm(shortNvm.bytes());
  EXPECT_EQ(ProbeControllerLayout(layout), ERR_PROVIDER_FAILED);

  // A chain count beyond the dump.
  NvmBuilder chainOut(0x200);
  chainOut.Section(0, 0x15D9, 0).Put8(2, 0x44).Put16(3, 0x1FF);
  SetNvm(chainOut.bytes());
  EXPECT_EQ(ProbeControllerLayout(layout), ERR_PROVIDER_FAILED);
}

TEST(ImageProbe, HeaderWordsLocateTheSection) {
  struct Case {
    uint16_t word0, word1000;
    TbtStatus status;
    uint32_t base;
  } cases[] = {
      {0x0000, 0x4000, STATUS_OK, 0x4000},     {0x2000, 0x4000, STATUS_OK, 0x2000},
      {0x0000, 0x0000, ERR_IMAGE_UNUSABLE, 0}, {0xFFFF, 0x4000, STATUS_OK, 0x4000},
      {0xFFFF, 0xFFFF, ERR_IMAGE_UNUSABLE, 0}, {0x0000, 0xFFFF, ERR_IMAGE_UNUSABLE, 0},
  };
  for (const Case& c : cases) {
    NvmBuilder img(0x5000);
    img.Put16(0, c.word0).Put16(0x1000, c.word1000);
    uint32_t base = c.word0 != 0 && c.word0 != 0xFFFF ? c.word0 : c.word1000;
    if (c.status == STATUS_OK) img.Section(base, 0x156D, 0x42);
    NvmLayout layout;
    EXPECT_EQ(ProbeImageLayout(NvmImage(img.bytes().data(), img.bytes().size()), layout), c.status);
    if (c.status == STATUS_OK) {
      EXPECT_EQ(layout.sectionBase, c.base);
      EXPECT_EQ(layout.version, 0x42u);
      EXPECT_EQ(layout.family, 1);
      EXPECT_EQ(layout.portConfig, 0u);
    }
  }
}

TEST(ImageProbe, EveryReadStaysInsideTheImage) {
  NvmBuilder full(0x3000);
  full.Put16(0, 0x2000).Section(0x2000, 0x15D9, 7).Link(0x2000, 0x900);
  full.Chain(0x2000, 0x01, 0x300, {0, 0, 4});
  const std::vector<uint8_t>& bytes = full.bytes();
  NvmLayout layout;
  ASSERT_EQ(ProbeImageLayout(NvmImage(bytes.data(), bytes.size()), layout), STATUS_OK);
  EXPECT_EQ(layout.chainBase, 0x2300u + 18);
  EXPECT_EQ(layout.linkedBase, 0x2900u);

  // Every prefix that cuts a field the probe reads is refused, never read past.
  struct Cut {
    uint32_t size;
    TbtStatus status;
  } cuts[] = {
      {0, ERR_IMAGE_UNUSABLE},      {1, ERR_IMAGE_UNUSABLE},
      {0x200A, ERR_IMAGE_UNUSABLE}, {0x200B, ERR_IMAGE_UNUSABLE},  // version readable, link cut off
      {0x210F, ERR_IMAGE_UNUSABLE}, {0x2112, ERR_IMAGE_UNUSABLE},
      {0x2301, ERR_IMAGE_UNUSABLE}, {0x2302, STATUS_OK},
  };
  for (const Cut& cut : cuts) {
    std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + cut.size);
    NvmLayout l;
    EXPECT_EQ(ProbeImageLayout(NvmImage(prefix.data(), cut.size), l), cut.status) << std::hex << cut.size;
  }

  // An unknown image device id after a readable version.
  NvmBuilder unknown(0x100);
  unknown.Put16(0, 0x10).Section(0x10, 0x1575, 3);
  NvmLayout l;
  EXPECT_EQ(ProbeImageLayout(NvmImage(unknown.bytes().data(), 0x100), l), ERR_UNKNOWN_DEVICE_ID);
  EXPECT_EQ(l.sectionBase, 0x10u);
  EXPECT_EQ(l.version, 3u);
}

}  // namespace
