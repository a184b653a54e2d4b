// nvmcheck: tells a release engineer, before shipping, whether an image will
// be accepted by a controller whose NVM dump and version are known. It runs
// the updater's own compatibility check and version policy against a
// simulated provider that serves the dump.
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/status.h"
#include "controller/compat_report.h"
#include "controller/compat_rules.h"
#include "controller/nvm_layout.h"
#include "controller/tbt_provider.h"
#include "controller/version_policy.h"
#include "tools/simprovider/sim_provider.h"

namespace {

constexpr int kExitAccepted = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: nvmcheck IMAGE --nvm DUMP --nvm-version N [--downgradable]\n"
    "       nvmcheck IMAGE --layout   (is it an image at all? its layout alone)\n"
    "  IMAGE          firmware image file to check\n"
    "  --nvm DUMP     the controller's NVM as read through the provider (section at 0)\n"
    "  --nvm-version N  the controller's current NVM version (decimal or 0x-hex)\n"
    "  --downgradable   permit an image older than the installed firmware\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "nvmcheck: %s\n%s", message.c_str(), kUsage);
  return kExitUsage;
}

bool ParseVersion(const char* text, uint32_t& value) {
  if (text == nullptr || *text == '\0' || *text == '-' || *text == '+' || *text == ' ') return false;
  const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex && text[2] == '\0') return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, hex ? 16 : 10);
  if (errno != 0 || *end != '\0' || v > UINT32_MAX) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

// No controller's NVM comes near this; anything larger is the wrong file (or
// a device that never ends), refused before it takes the machine's memory.
constexpr size_t kMaxInputBytes = size_t{64} << 20;

bool LoadInput(const char* what, const char* path, std::vector<uint8_t>& bytes) {
  switch (SimLoadFile(path, bytes, kMaxInputBytes)) {
    case SimLoad::kOk: return true;
    case SimLoad::kTooLarge:
      std::fprintf(stderr, "nvmcheck: %s %s is larger than %zu MiB; no NVM is\n", what, path,
                   kMaxInputBytes >> 20);
      return false;
    case SimLoad::kUnreadable: break;
  }
  std::fprintf(stderr, "nvmcheck: cannot read %s %s: %s\n", what, path, std::strerror(errno));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const char* imagePath = nullptr;
  const char* dumpPath = nullptr;
  const char* versionText = nullptr;
  bool downgradable = false;
  bool layoutOnly = false;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--nvm" || arg == "--nvm-version") {
      if (i + 1 >= argc) return UsageError(arg + " needs a value");
      (arg == "--nvm" ? dumpPath : versionText) = argv[++i];
    } else if (arg == "--layout") {
      layoutOnly = true;
    } else if (arg == "--downgradable") {
      downgradable = true;
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stderr);
      return kExitUsage;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else if (imagePath == nullptr) {
      imagePath = argv[i];
    } else {
      return UsageError("more than one image given");
    }
  }
  if (imagePath == nullptr) return UsageError("no image given");
  if (layoutOnly) {
    // The package script's question: does the file read as an image at all
    // (header words, section, device id), before any controller is known.
    std::vector<uint8_t> image;
    if (!LoadInput("image", imagePath, image)) return kExitUsage;
    NvmLayout layout{};
    const TbtStatus status =
        ProbeImageLayout(NvmImage(image.data(), static_cast<uint32_t>(image.size())), layout);
    const char* name = StatusName(status);
    std::printf("0x%08" PRIX32 " %s\n", status, name ? name : "PROVIDER_ERROR");
    return status == STATUS_OK ? kExitAccepted : kExitRefused;
  }
  if (dumpPath == nullptr) return UsageError("--nvm DUMP is required");
  if (versionText == nullptr) return UsageError("--nvm-version N is required");
  uint32_t currentVersion = 0;
  if (!ParseVersion(versionText, currentVersion)) {
    return UsageError(std::string("not a 32-bit version: ") + versionText);
  }

  std::vector<uint8_t> image;
  SimProvider& provider = TheSimProvider();
  if (!LoadInput("image", imagePath, image) || !LoadInput("NVM dump", dumpPath, provider.nvm))
    return kExitUsage;
  provider.nvmVersion = currentVersion;

  // The updater's steps: connect, check, then the version policy.
  TbtConnect();
  CompatReport report;
  uint32_t imageVersion = 0;
  TbtStatus status =
      CheckImageCompatibility(image.data(), static_cast<uint32_t>(image.size()), imageVersion, &report);
  if (status == STATUS_OK) status = ApplyVersionPolicy(imageVersion, currentVersion, downgradable ? 1 : 0);

  const char* name = StatusName(status);
  std::printf("0x%08" PRIX32 " %s\n", status, name ? name : "PROVIDER_ERROR");
  std::printf("provider reads: %" PRIu32 "\n", provider.readCalls);
  for (const std::string& line : ExplainCheck(status, report, imageVersion, currentVersion))
    std::printf("%s\n", line.c_str());
  if (status == ERR_DOWNGRADE_REFUSED) std::printf("(--downgradable permits it)\n");
  if (status == STATUS_OK) {
    std::printf("accepted: image version 0x%" PRIX32 ", installed version 0x%" PRIX32 "\n", imageVersion,
                currentVersion);
  }
  return status == STATUS_OK ? kExitAccepted : kExitRefused;
}
