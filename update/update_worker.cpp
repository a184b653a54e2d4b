#include "update/update_worker.h"

#include <objbase.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "app/run_log.h"
#include "app/status.h"
#include "controller/acpi_channel.h"
#include "controller/acpi_request.h"
#include "controller/compat_report.h"
#include "controller/compat_rules.h"
#include "controller/tbt_provider.h"
#include "controller/tbt_service.h"
#include "controller/version_policy.h"
#include "update/attempt_record.h"
#include "update/image_hash.h"
#include "update/session_end.h"
#include "update/utf8.h"

namespace {

// The service needs time to bring its provider up, and the controller to
// settle after the write, before the device is switched off.
constexpr DWORD kSettleMs = 10000;
constexpr wchar_t kServiceName[] = L"ThunderboltService";

// The wait after a write is the controller's and runs out; any other ends
// with the session.
void RealSleep(DWORD milliseconds) {
  const HANDLE hEnding = SessionEndEvent();
  if (SessionEndHandedOver() || !hEnding)
    Sleep(milliseconds);
  else
    WaitForSingleObject(hEnding, milliseconds);
}
UpdateSleepFn g_pfnSleep = RealSleep;

TbtStatus StoppedBySessionEnd(const char* where) {
  RunLog("the session is ending: stopped %s; nothing was written", where);
  return STATUS_SESSION_ENDING;
}

// The running executable's full path, however deep its folder.
std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    // Truncated: no Windows path is longer than 32,767 characters.
    if (path.size() > 32768) return {};
    path.resize(path.size() * 2);
  }
}

// A path as the file functions take it: one of MAX_PATH characters or more
// only reaches them in its extended form.
std::wstring ForFileApi(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0)
    return path;
  if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

// "data" beside the executable: its path cut after the last backslash.
std::wstring DataFolder() {
  const std::wstring exe = ExecutablePath();
  const size_t slash = exe.rfind(L'\\');
  if (slash == std::wstring::npos) return {};
  return exe.substr(0, slash + 1) + L"data";
}

// The first entry that the listing of folder\*.bin yields, "." and ".."
// aside. The listing is not sorted, and a directory counts like a file (its
// open then fails). Empty when there is none.
std::wstring FindImage(const std::wstring& folder) {
  if (folder.empty()) return {};
  WIN32_FIND_DATAW found;
  const HANDLE hFind = FindFirstFileW(ForFileApi(folder + L"\\*.bin").c_str(), &found);
  if (hFind == INVALID_HANDLE_VALUE) return {};
  std::wstring path;
  do {
    if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) {
      path = folder + L"\\" + found.cFileName;
      break;
    }
  } while (FindNextFileW(hFind, &found));
  FindClose(hFind);
  return path;
}

// The image in a zero-filled movable block, freed with it.
class ImageBlock {
 public:
  ImageBlock() = default;
  ImageBlock(const ImageBlock&) = delete;
  ImageBlock& operator=(const ImageBlock&) = delete;
  ~ImageBlock() {
    if (!m_hBlock) return;
    if (m_pBytes) GlobalUnlock(m_hBlock);
    GlobalFree(m_hBlock);
  }
  // A movable block of size 0 cannot be locked: an empty file gets one byte,
  // and the check refuses it by its size of 0.
  bool Allocate(DWORD size) {
    m_hBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size > 0 ? size : 1);
    m_pBytes = m_hBlock ? static_cast<uint8_t*>(GlobalLock(m_hBlock)) : nullptr;
    m_size = size;
    return m_pBytes != nullptr;
  }
  uint8_t* Bytes() const { return m_pBytes; }
  DWORD Size() const { return m_size; }

 private:
  HGLOBAL m_hBlock = nullptr;
  uint8_t* m_pBytes = nullptr;
  DWORD m_size = 0;
};

// The whole open file into `image`, or a status saying why not.
TbtStatus ReadImage(HANDLE hFile, ImageBlock& image) {
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(hFile, &fileSize)) return ERR_IMAGE_UNUSABLE;
  // The provider takes a signed 32-bit size; a file beyond it cannot be held
  // whole, and cutting its size would hand over part of it.
  if (fileSize.QuadPart > INT32_MAX) return ERR_OUT_OF_MEMORY;
  const DWORD size = static_cast<DWORD>(fileSize.QuadPart);
  if (!image.Allocate(size)) return ERR_OUT_OF_MEMORY;

  // The whole file or nothing: the check looks at headers and settings only,
  // so a tail that failed to read (removable media, a network share) would
  // pass it and be written as zeros.
  DWORD total = 0;
  while (total < size) {
    DWORD read = 0;
    if (!ReadFile(hFile, image.Bytes() + total, size - total, &read, nullptr) || read == 0) break;
    total += read;
  }
  if (total != size) {
    RunLog("image: read %lu of %lu bytes", static_cast<unsigned long>(total),
           static_cast<unsigned long>(size));
    return ERR_IMAGE_UNUSABLE;
  }
  return STATUS_OK;
}

// The image's SHA-256, for the log and the attempt record.
std::string FingerprintImage(const ImageBlock& image) {
  std::string sha256 = ImageSha256(image.Bytes(), image.Size());
  RunLog("image: %lu bytes, SHA-256 %s", static_cast<unsigned long>(image.Size()),
         sha256.empty() ? "not available" : sha256.c_str());
  return sha256;
}

// A packaged program writes the image it was released with and no other: one
// dropped into data\ (listed first, or in place of the release's) is refused
// before the controller is asked anything about it, and nothing else is
// tried in its place.
TbtStatus CheckReleaseBinding(const std::string& imageSha256) {
  std::string released;
  switch (ReadReleaseBinding(released)) {
    case ReleaseBinding::kUnbound:
      RunLog(
          "image: not bound to a release (a developer's build): any image that passes the checks is written");
      return STATUS_OK;
    case ReleaseBinding::kMalformed:
      RunLog("image: this program's release binding is unreadable: no image is written");
      return ERR_IMAGE_NOT_RELEASED;
    case ReleaseBinding::kBound: break;
  }
  if (!imageSha256.empty() && imageSha256 == released) {
    RunLog("image: the one this release was packaged with");
    return STATUS_OK;
  }
  RunLog(
      "image: not the one this release was packaged with (that one's SHA-256 is %s): refused, nothing is "
      "written",
      released.c_str());
  return ERR_IMAGE_NOT_RELEASED;
}

// The compatibility check and the version policy, each refusal explained.
TbtStatus CheckImage(const ImageBlock& image, uint32_t currentVersion, int32_t bDowngradable,
                     uint32_t& imageVersion) {
  CompatReport report;
  TbtStatus status = CheckImageCompatibility(image.Bytes(), image.Size(), imageVersion, &report);
  // A refused image is still named on record by its version, when its header could be read.
  if (status != STATUS_OK && report.imageProbed) imageVersion = report.image.version;
  if (status == STATUS_OK) status = ApplyVersionPolicy(imageVersion, currentVersion, bDowngradable);
  for (const std::string& line : ExplainCheck(status, report, imageVersion, currentVersion))
    RunLog("%s", line.c_str());
  RunLog("check and version policy: %s", StatusForLog(status).c_str());
  return status;
}

// The record says "interrupted" and the log says the image is being handed
// over before the call, and both are on the disk: a run that is killed or
// loses power during the write leaves that trace, where the call's answer
// would never come.
TbtStatus WriteImage(const ImageBlock& image, AttemptRecord& record) {
  if (!SessionEndBeginHandOver()) return StoppedBySessionEnd("before the image was handed over");
  AttemptRecord inProgress = record;
  inProgress.status = ERR_INTERRUPTED;
  RecordAttempt(inProgress);
  RunLog("UpdateFirmware: handing the image (%lu bytes) to the provider; the write must not be interrupted",
         static_cast<unsigned long>(image.Size()));
  RunLogFlush();
  const TbtStatus status = TbtUpdateFirmware(image.Bytes(), static_cast<int32_t>(image.Size()));
  RunLog("UpdateFirmware: %s", StatusForLog(status).c_str());
  return status;
}

// Reads the open image, checks it against the controller, applies the version
// policy and, unless the run only checks, hands it over.
TbtStatus CheckAndWrite(HANDLE hFile, uint32_t currentVersion, const UpdateState& state,
                        AttemptRecord& record) {
  ImageBlock image;
  if (TbtStatus status = ReadImage(hFile, image)) return status;
  record.imageSha256 = FingerprintImage(image);
  if (TbtStatus status = CheckReleaseBinding(record.imageSha256)) return status;
  if (TbtStatus status = CheckImage(image, currentVersion, state.m_bDowngradable, record.imageVersion))
    return status;
  if (state.m_bCheckOnly) {
    RunLog("check only: the image suits and would be written; UpdateFirmware is not called");
    return STATUS_OK;
  }
  return WriteImage(image, record);
}

// Finds, opens and hands on the image of data\ beside the executable.
TbtStatus UpdateWithImage(uint32_t currentVersion, const UpdateState& state, AttemptRecord& record) {
  const std::wstring folder = DataFolder();
  const std::wstring imagePath = FindImage(folder);
  if (imagePath.empty()) {
    RunLog("image: no *.bin in %s", Utf8(folder).c_str());
    return ERR_IMAGE_UNUSABLE;
  }
  RunLog("image: %s", Utf8(imagePath).c_str());
  // Exclusive: nobody changes the image between the check and the write.
  const HANDLE hFile = CreateFileW(ForFileApi(imagePath).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == INVALID_HANDLE_VALUE) {
    RunLog("image: cannot be opened for reading alone (error %lu)", GetLastError());
    return ERR_IMAGE_UNUSABLE;
  }
  const TbtStatus status = CheckAndWrite(hFile, currentVersion, state, record);
  CloseHandle(hFile);
  return status;
}

// Everything between the first wait and the tail.
TbtStatus ReachController(const UpdateState& state, AttemptRecord& record) {
  if (SessionEndRequested()) return StoppedBySessionEnd("before the provider was asked anything");
  if (!TbtConnect()) {
    RunLog("provider ROOT\\Intel\\Thunderbolt: cannot connect");
    return ERR_PROVIDER_FAILED;
  }
  RunLog("provider ROOT\\Intel\\Thunderbolt: connected");

  uint32_t currentVersion = 0;
  if (TbtStatus status = TbtGetCurrentNvmVersion(currentVersion)) return status;
  record.versionBeforeAttempt = currentVersion;
  return UpdateWithImage(currentVersion, state, record);
}

// Every attempt is on record, however early it ended.
TbtStatus RunUpdate(const UpdateState& state) {
  AttemptRecord record;
  record.checkOnly = state.m_bCheckOnly != 0;
  record.status = ReachController(state, record);
  RecordAttempt(record);
  return record.status;
}

}  // namespace

void SetUpdateSleep(UpdateSleepFn pfnSleep) {
  g_pfnSleep = pfnSleep ? pfnSleep : RealSleep;
}

DWORD WINAPI UpdateWorker(LPVOID param) {
  auto* pState = static_cast<UpdateState*>(param);
  if (!pState) return 0;

  // Every provider call runs in this thread's own apartment.
  const HRESULT hrCom = CoInitialize(nullptr);
  uint32_t reply = 0;
  RunLog("device 0x%08X on: %s", TBT_ACPI_DEVICE_ID,
         AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_ON, reply) ? "sent" : "not sent");
  StartTbtService(kServiceName);
  RunLog("service ThunderboltService: start requested; waiting %lu ms",
         static_cast<unsigned long>(kSettleMs));
  g_pfnSleep(kSettleMs);

  pState->m_dwStatus = RunUpdate(*pState);

  // The tail runs on every path; a session that is ending gets the device
  // switched off at once: Windows gives a program seconds, not a settle wait.
  if (SessionEndRequested() && !SessionEndHandedOver()) {
    RunLog("the session is ending: the device is switched off without waiting");
  } else {
    RunLog("waiting %lu ms before the device is switched off", static_cast<unsigned long>(kSettleMs));
    g_pfnSleep(kSettleMs);
  }
  RunLog("device 0x%08X off: %s", TBT_ACPI_DEVICE_ID,
         AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_OFF, reply) ? "sent" : "not sent");
  if (SUCCEEDED(hrCom)) CoUninitialize();
  return 0;
}
