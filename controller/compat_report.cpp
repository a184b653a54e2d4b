#include "controller/compat_report.h"

#include <cinttypes>
#include <cstdarg>
#include <cstdio>

namespace {

std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

std::string Label(const CompatRule& rule) {
  std::string text;
  for (char16_t c : rule.label) {
    if (c == 0) break;
    text += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return text;
}

}  // namespace

std::string DescribeLayout(const char* side, const NvmLayout& l) {
  std::string text = Format("%s: version 0x%" PRIX32 ", family %" PRId32 ", port configuration %" PRIu32
                            ", section 0x%" PRIX32,
                            side, l.version, l.family, l.portConfig, l.sectionBase);
  if (l.hasLinkedBase) text += Format(", linked region 0x%" PRIX32, l.linkedBase);
  if (l.hasChainBase) text += Format(", chained region 0x%" PRIX32, l.chainBase);
  return text;
}

std::vector<std::string> ExplainCheck(TbtStatus status, const CompatReport& report, uint32_t imageVersion,
                                      uint32_t currentVersion) {
  std::vector<std::string> lines;
  if (report.controllerProbed) lines.push_back(DescribeLayout("controller", report.controller));
  if (report.imageProbed) lines.push_back(DescribeLayout("image", report.image));
  switch (status) {
    case ERR_FAMILY_MISMATCH:
      lines.push_back(Format("family differs: controller %" PRId32 ", image %" PRId32,
                             report.controller.family, report.image.family));
      break;
    case ERR_PORT_CONFIG_MISMATCH:
      lines.push_back(Format("port configuration differs: controller %" PRIu32 ", image %" PRIu32,
                             report.controller.portConfig, report.image.portConfig));
      break;
    case ERR_IMAGE_TOO_NEW:
      lines.push_back(Format("first section byte, low three bits: controller %" PRIu32 ", image %" PRIu32,
                             report.controllerFirstBits, report.imageFirstBits));
      break;
    case ERR_DOWNGRADE_REFUSED:
      lines.push_back(Format("image version 0x%" PRIX32 " is older than the installed version 0x%" PRIX32,
                             imageVersion, currentVersion));
      break;
    default: break;
  }
  if (report.failedRow >= 0 && static_cast<uint32_t>(report.failedRow) < g_nCompatRules) {
    const CompatRule& rule = g_CompatRules[report.failedRow];
    if (status == ERR_IMAGE_MISMATCH && report.chainMissing) {
      lines.push_back(Format("refused by row %d \"%s\": only one side has the chained region",
                             report.failedRow + 1, Label(rule).c_str()));
    } else if (status == ERR_IMAGE_MISMATCH) {
      lines.push_back(Format(
          "refused by row %d \"%s\" (mask 0x%02" PRIX32 "): controller 0x%0*" PRIX32 ", image 0x%0*" PRIX32,
          report.failedRow + 1, Label(rule).c_str(), rule.mask & 0xFF, static_cast<int>(rule.width * 2),
          report.controllerValue, static_cast<int>(rule.width * 2), report.imageValue));
    } else {
      lines.push_back(Format("stopped at row %d \"%s\"", report.failedRow + 1, Label(rule).c_str()));
    }
  }
  return lines;
}
