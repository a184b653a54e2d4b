#include "controller/compat_rules.h"

// Settings that must agree between the installed NVM and the image. Rows are
// evaluated in stored order, grouped by family 1, 2, 3, 5, 4.
// Fields: family, allPortConfigs, offset, width, label, mask, region.
const CompatRule g_CompatRules[] = {
    {1, 1, 0x5, 2, u"Device ID", 0xFF, 0},         // 1
    {1, 1, 0x10, 4, u"PCIe Settings", 0xFF, 0},    // 2
    {1, 1, 0x143, 1, u"CIO-Port0_TX", 0xFF, 0},    // 3
    {1, 1, 0x153, 1, u"CIO-Port0_RX", 0xFF, 0},    // 4
    {1, 1, 0x147, 1, u"CIO-Port1_TX", 0xFF, 0},    // 5
    {1, 1, 0x157, 1, u"CIO-Port1_RX", 0xFF, 0},    // 6
    {1, 0, 0x14B, 1, u"CIO-Port2_TX", 0xFF, 0},    // 7
    {1, 0, 0x15B, 1, u"CIO-Port2_RX", 0xFF, 0},    // 8
    {1, 0, 0x14F, 1, u"CIO-Port3_TX", 0xFF, 0},    // 9
    {1, 0, 0x15F, 1, u"CIO-Port3_RX", 0xFF, 0},    // 10
    {1, 1, 0x211, 1, u"Snk0_0(DP-in)", 0xFF, 0},   // 11
    {1, 1, 0x215, 1, u"Snk0_1(DP-in)", 0xFF, 0},   // 12
    {1, 1, 0x219, 1, u"Snk0_2(DP-in)", 0xFF, 0},   // 13
    {1, 1, 0x21D, 1, u"Snk0_3(DP-in)", 0xFF, 0},   // 14
    {1, 0, 0x11C3, 1, u"Snk1_0(DP-in)", 0xFF, 0},  // 15
    {1, 0, 0x11C7, 1, u"Snk1_1(DP-in)", 0xFF, 0},  // 16
    {1, 0, 0x11CB, 1, u"Snk1_2(DP-in)", 0xFF, 0},  // 17
    {1, 0, 0x11CF, 1, u"Snk1_3(DP-in)", 0xFF, 0},  // 18
    {1, 1, 0x2175, 1, u"PA(DP-out)", 0xFF, 0},     // 19
    {1, 1, 0x2179, 1, u"PB(DP-out)", 0xFF, 0},     // 20
    {1, 1, 0x217D, 1, u"Src0(DP-out)", 0xAA, 0},   // 21
    {2, 1, 0x5, 2, u"Device ID", 0xFF, 0},         // 22
    {2, 1, 0x10, 4, u"PCIe Settings", 0xFF, 0},    // 23
    {2, 1, 0x14F, 1, u"CIO-Port0_TX", 0xFF, 0},    // 24
    {2, 1, 0x157, 1, u"CIO-Port0_RX", 0xFF, 0},    // 25
    {2, 1, 0x153, 1, u"CIO-Port1_TX", 0xFF, 0},    // 26
    {2, 1, 0x15B, 1, u"CIO-Port1_RX", 0xFF, 0},    // 27
    {2, 1, 0x1F1, 1, u"Snk0_0(DP-in)", 0xFF, 0},   // 28
    {2, 1, 0x1F5, 1, u"Snk0_1(DP-in)", 0xFF, 0},   // 29
    {2, 1, 0x1F9, 1, u"Snk0_2(DP-in)", 0xFF, 0},   // 30
    {2, 1, 0x1FD, 1, u"Snk0_3(DP-in)", 0xFF, 0},   // 31
    {2, 1, 0x11A5, 1, u"PA(DP-out)", 0xFF, 0},     // 32
    {3, 1, 0x5, 2, u"Device ID", 0xFF, 0},         // 33
    {3, 1, 0x10, 4, u"PCIe Settings", 0xFF, 0},    // 34
    {3, 1, 0x12, 1, u"PA", 0xCC, 2},               // 35
    {3, 0, 0x13, 1, u"PB", 0xCC, 2},               // 36
    {3, 1, 0x121, 1, u"Snk0", 0xFF, 0},            // 37
    {3, 1, 0x129, 1, u"Snk1", 0xFF, 0},            // 38
    {3, 1, 0x136, 1, u"Src0", 0xF0, 0},            // 39
    {3, 1, 0xB6, 1, u"PA/PB (USB2)", 0xC0, 0},     // 40
    {5, 1, 0x5, 2, u"Device ID", 0xFF, 0},         // 41
    {5, 1, 0x10, 4, u"PCIe Settings", 0xFF, 0},    // 42
    {5, 1, 0x12, 1, u"PA", 0xCC, 2},               // 43
    {5, 0, 0x13, 1, u"PB", 0xCC, 2},               // 44
    {5, 1, 0x121, 1, u"Snk0", 0xFF, 0},            // 45
    {5, 1, 0x129, 1, u"Snk1", 0xFF, 0},            // 46
    {5, 1, 0x136, 1, u"Src0", 0xF0, 0},            // 47
    {5, 1, 0xB6, 1, u"PA/PB (USB2)", 0xC0, 0},     // 48
    {4, 1, 0x5, 2, u"Device ID", 0xFF, 0},         // 49
    {4, 1, 0x10, 4, u"PCIe Settings", 0xFF, 0},    // 50
    {4, 1, 0x12, 1, u"PA", 0xCC, 2},               // 51
    {4, 0, 0x13, 1, u"PB", 0x44, 2},               // 52
    {4, 1, 0x121, 1, u"Snk0", 0xFF, 0},            // 53
    {4, 1, 0xB6, 1, u"PA/PB (USB2)", 0xC0, 0},     // 54
};
const uint32_t g_nCompatRules = sizeof(g_CompatRules) / sizeof(g_CompatRules[0]);

namespace {

constexpr uint32_t kFirstByteBits = 0x07;

// The base a row's offset is added to; false when the side has no such region.
bool RegionBase(const NvmLayout& layout, uint32_t region, uint32_t& base) {
  switch (region) {
    case 0: base = layout.sectionBase; return true;
    case 1: base = layout.linkedBase; return layout.hasLinkedBase;
    case 2: base = layout.chainBase; return layout.hasChainBase;
    default: return false;
  }
}

uint32_t ApplyMask(uint32_t value, uint32_t mask) {
  return (value & ~uint32_t{0xFF}) | (value & mask & 0xFF);
}

enum class RowOutcome { kEqual, kSkipped, kDiffers, kFailed };

// Compares one row; on kFailed `status` holds the failed read's status.
RowOutcome CompareRow(const CompatRule& rule, const NvmLayout& controller, const NvmLayout& imageLayout,
                      const NvmImage& image, CompatReport* report, TbtStatus& status) {
  if (rule.region > 2) return RowOutcome::kSkipped;
  uint32_t controllerBase = 0, imageBase = 0;
  const bool controllerHas = RegionBase(controller, rule.region, controllerBase);
  const bool imageHas = RegionBase(imageLayout, rule.region, imageBase);
  if (!controllerHas && !imageHas) return RowOutcome::kSkipped;
  if (controllerHas != imageHas) {
    // A setting only one side has cannot match.
    if (report) report->chainMissing = true;
    return RowOutcome::kDiffers;
  }

  uint32_t controllerValue = 0, imageValue = 0;
  status = NvmReadValue(controllerBase + rule.offset, rule.width, controllerValue);
  if (status != STATUS_OK) return RowOutcome::kFailed;
  if (!image.Read(uint64_t{imageBase} + rule.offset, rule.width, imageValue)) {
    status = ERR_IMAGE_UNUSABLE;
    return RowOutcome::kFailed;
  }
  controllerValue = ApplyMask(controllerValue, rule.mask);
  imageValue = ApplyMask(imageValue, rule.mask);
  if (report) {
    report->controllerValue = controllerValue;
    report->imageValue = imageValue;
  }
  return controllerValue == imageValue ? RowOutcome::kEqual : RowOutcome::kDiffers;
}

TbtStatus Check(const NvmImage& image, uint32_t& imageVersion, CompatReport& report) {
  NvmLayout& controller = report.controller;
  NvmLayout& imageLayout = report.image;

  TbtStatus status = ProbeControllerLayout(controller);
  if (status != STATUS_OK) return status;
  report.controllerProbed = true;
  if (controller.family == 0) return ERR_UNSUPPORTED_FAMILY;

  status = ProbeImageLayout(image, imageLayout);
  if (status != STATUS_OK) return status;
  report.imageProbed = true;
  if (imageLayout.family != controller.family) return ERR_FAMILY_MISMATCH;
  if (imageLayout.portConfig != controller.portConfig) return ERR_PORT_CONFIG_MISMATCH;

  uint32_t controllerFirst = 0, imageFirst = 0;
  status = NvmReadValue(controller.sectionBase, 1, controllerFirst);
  if (status != STATUS_OK) return status;
  if (!image.Read(imageLayout.sectionBase, 1, imageFirst)) return ERR_IMAGE_UNUSABLE;
  report.controllerFirstBits = controllerFirst & kFirstByteBits;
  report.imageFirstBits = imageFirst & kFirstByteBits;
  if (report.controllerFirstBits < report.imageFirstBits) return ERR_IMAGE_TOO_NEW;

  for (uint32_t i = 0; i < g_nCompatRules; ++i) {
    const CompatRule& rule = g_CompatRules[i];
    if (static_cast<int32_t>(rule.family) != controller.family) continue;
    if (rule.allPortConfigs == 0 && controller.portConfig != 0) continue;
    switch (CompareRow(rule, controller, imageLayout, image, &report, status)) {
      case RowOutcome::kEqual:
      case RowOutcome::kSkipped: break;
      case RowOutcome::kDiffers: report.failedRow = static_cast<int32_t>(i); return ERR_IMAGE_MISMATCH;
      case RowOutcome::kFailed: report.failedRow = static_cast<int32_t>(i); return status;
    }
  }

  imageVersion = imageLayout.version;
  return STATUS_OK;
}

}  // namespace

TbtStatus CheckImageCompatibility(const uint8_t* image, uint32_t size, uint32_t& imageVersion,
                                  CompatReport* report) {
  CompatReport local;
  CompatReport& out = report ? *report : local;
  out = CompatReport();
  return Check(NvmImage(image, image ? size : 0), imageVersion, out);
}
