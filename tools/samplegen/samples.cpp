#include "tools/samplegen/samples.h"

#include "tools/samplegen/nvm_builder.h"

namespace {

constexpr uint16_t kBoardDevice = 0x15D9;  // family 5, port configuration 1
constexpr uint32_t kSectionSize = 0x3000;

struct Board {
  uint32_t pcie = 0x8086A0B1;
  uint8_t snk0 = 0x31, snk1 = 0x32, src0 = 0x5A, usb2 = 0x80;
  uint8_t pa = 0x44, pb = 0x88;
};

// One active section of the board at `base` of `nvm`.
void WriteSection(NvmBuilder& nvm, uint32_t base, uint16_t deviceId, uint8_t version, const Board& board) {
  nvm.Section(base, deviceId, version, 0x02);
  nvm.Put32(base + 0x10, board.pcie);
  nvm.Put8(base + 0x121, board.snk0).Put8(base + 0x129, board.snk1).Put8(base + 0x136, board.src0);
  nvm.Put8(base + 0xB6, board.usb2);
  nvm.Link(base, 0x1800);
  uint32_t chain = nvm.Chain(base, 0x07, 0x200, {1, 2, 3, 0, 0, 0});
  nvm.Put8(chain + 0x12, board.pa).Put8(chain + 0x13, board.pb);
}

// An image file: header word at 0 left 0, so the word at 0x1000 locates the
// section, as images built for dual-bank flash do.
std::vector<uint8_t> Image(uint16_t deviceId, uint8_t version, const Board& board) {
  constexpr uint32_t kBase = 0x2000;
  NvmBuilder nvm(kBase + kSectionSize, 0xFF);
  nvm.Put16(0, 0).Put16(0x1000, kBase);
  WriteSection(nvm, kBase, deviceId, version, board);
  return nvm.bytes();
}

}  // namespace

std::vector<uint8_t> SampleControllerNvm() {
  NvmBuilder nvm(kSectionSize, 0xFF);
  WriteSection(nvm, 0, kBoardDevice, static_cast<uint8_t>(kSampleControllerVersion), Board());
  return nvm.bytes();
}

std::vector<Sample> SampleImages() {
  Board otherBoard;
  otherBoard.snk0 = 0x00;  // a board without the second DisplayPort sink
  Board family3Board;
  return {
      {"update-newer.bin", Image(kBoardDevice, 0x22, Board()), "0x00000000 STATUS_OK"},
      {"update-same.bin", Image(kBoardDevice, 0x20, Board()), "0x00000000 STATUS_OK"},
      {"update-older.bin", Image(kBoardDevice, 0x1E, Board()), "0x1043000C ERR_DOWNGRADE_REFUSED"},
      {"update-other-board.bin", Image(kBoardDevice, 0x22, otherBoard), "0x10430006 ERR_IMAGE_MISMATCH"},
      {"update-other-family.bin", Image(0x1576, 0x22, family3Board), "0x10430009 ERR_FAMILY_MISMATCH"},
  };
}
