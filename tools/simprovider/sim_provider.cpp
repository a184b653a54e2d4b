#include "tools/simprovider/sim_provider.h"

#include <cstring>
#include <cstdio>

#include "app/exit_codes.h"
#include "controller/tbt_provider.h"

SimProvider& TheSimProvider() {
  static SimProvider provider;
  return provider;
}

void ResetSimProvider() {
  TheSimProvider() = SimProvider();
}

SimLoad SimLoadFile(const std::string& path, std::vector<uint8_t>& bytes, size_t maxBytes) {
  // C streams: a directory or unreadable file is a plain error, not an exception.
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return SimLoad::kUnreadable;
  std::vector<uint8_t> data;
  uint8_t chunk[65536];
  size_t n = 0;
  bool tooLarge = false;
  while (!tooLarge && (n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    tooLarge = n > maxBytes - data.size();
    if (!tooLarge) data.insert(data.end(), chunk, chunk + n);
  }
  const bool ok = std::ferror(file) == 0;
  std::fclose(file);
  if (tooLarge) return SimLoad::kTooLarge;
  if (!ok) return SimLoad::kUnreadable;
  bytes.swap(data);
  return SimLoad::kOk;
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

// The run's gate first, as the real client asks it: a call it stops is not
// counted, since it never reached the provider.
static TbtStatus Gate(SimProvider& p, const char* method) {
  if (p.onCall) p.onCall(method);
  return TbtCallGateCheck();
}

// The common head of every method call, as the real client behaves.
static TbtStatus Reach(const SimProvider& p) {
  if (!p.connected) return ERR_PROVIDER_FAILED;
  if (!p.controllerListed) return ERR_CONTROLLER_NOT_FOUND;
  return STATUS_OK;
}

// A ReturnValue as the real client passes it on: never as one of the
// program's own outcomes.
static TbtStatus Answer(TbtStatus returnValue) {
  return IsOwnOutcome(returnValue) ? ERR_PROVIDER_CODE_RESERVED : returnValue;
}

TbtStatus TbtGetCurrentNvmVersion(uint32_t& version) {
  SimProvider& p = TheSimProvider();
  if (TbtStatus stopped = Gate(p, "version")) return stopped;
  ++p.versionCalls;
  if (TbtStatus s = Reach(p)) return s;
  if (!p.versionAvailable)
    return p.versionReturn != STATUS_OK ? Answer(p.versionReturn) : ERR_PROVIDER_FAILED;
  version = p.nvmVersion;
  return Answer(p.versionReturn);
}

TbtStatus TbtReadFirmware(uint32_t offset, uint32_t length, uint8_t* buffer) {
  SimProvider& p = TheSimProvider();
  if (TbtStatus stopped = Gate(p, "read")) return stopped;
  ++p.readCalls;
  p.readOffsets.push_back(offset);
  if (TbtStatus s = Reach(p)) return s;
  if (static_cast<int64_t>(offset) == p.failReadAt) return ERR_PROVIDER_FAILED;
  if (uint64_t{offset} + length > p.nvm.size()) return ERR_PROVIDER_FAILED;
  if (length > 0) std::memcpy(buffer, p.nvm.data() + offset, length);
  return STATUS_OK;
}

TbtStatus TbtUpdateFirmware(const uint8_t* image, int32_t size, const TbtBeforeWrite& beforeWrite,
                            TbtWriteAnswer& answer) {
  SimProvider& p = TheSimProvider();
  answer = TbtWriteAnswer();
  if (TbtStatus stopped = Gate(p, "update")) return stopped;
  if (TbtStatus s = Reach(p)) return s;
  if (beforeWrite) {
    if (TbtStatus s = beforeWrite()) return s;
  }
  ++p.updateCalls;
  answer.executed = true;
  p.updatedImage.assign(image, image + (size > 0 ? size : 0));
  if (!p.updateAnswers) return ERR_PROVIDER_FAILED;
  answer.answered = true;
  answer.returnValue = p.updateReturn;
  return Answer(p.updateReturn);
}
