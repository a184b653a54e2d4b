#include "tools/simprovider/sim_provider.h"

#include <cstring>
#include <fstream>
#include <iterator>

#include "controller/tbt_provider.h"

SimProvider& TheSimProvider() {
  static SimProvider provider;
  return provider;
}

void ResetSimProvider() { TheSimProvider() = SimProvider(); }

bool SimLoadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool TbtConnect() {
  SimProvider& p = TheSimProvider();
  ++p.connectCalls;
  p.connected = p.connectOk;
  return p.connected;
}

bool TbtFindController() {
  const SimProvider& p = TheSimProvider();
  return p.connected && p.controllerListed;
}

// The common head of every method call, as the real client behaves.
static TbtStatus Reach(const SimProvider& p) {
  if (!p.connected) return ERR_PROVIDER_FAILED;
  if (!p.controllerListed) return ERR_CONTROLLER_NOT_FOUND;
  return STATUS_OK;
}

TbtStatus TbtGetCurrentNvmVersion(uint32_t& version) {
  SimProvider& p = TheSimProvider();
  ++p.versionCalls;
  if (TbtStatus s = Reach(p)) return s;
  if (!p.versionAvailable) return p.versionReturn != STATUS_OK ? p.versionReturn : ERR_PROVIDER_FAILED;
  version = p.nvmVersion;
  return p.versionReturn;
}

TbtStatus TbtReadFirmware(uint32_t offset, uint32_t length, uint8_t* buffer) {
  SimProvider& p = TheSimProvider();
  ++p.readCalls;
  if (TbtStatus s = Reach(p)) return s;
  if (static_cast<int64_t>(offset) == p.failReadAt) return ERR_PROVIDER_FAILED;
  if (uint64_t{offset} + length > p.nvm.size()) return ERR_PROVIDER_FAILED;
  if (length > 0) std::memcpy(buffer, p.nvm.data() + offset, length);
  return STATUS_OK;
}

TbtStatus TbtUpdateFirmware(const uint8_t* image, int32_t size) {
  SimProvider& p = TheSimProvider();
  ++p.updateCalls;
  if (TbtStatus s = Reach(p)) return s;
  p.updatedImage.assign(image, image + (size > 0 ? size : 0));
  return p.updateReturn;
}
