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
#include "update/image_file.h"
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
void RealSleep(DWORD milliseconds, SessionEnd& sessionEnd) {
  if (sessionEnd.HandedOver())
    Sleep(milliseconds);
  else
    sessionEnd.WaitFor(milliseconds);
}
UpdateSleepFn g_pfnSleep = RealSleep;

// Asked before every provider call: once the session is ending, none is made.
TbtStatus StopWhenTheSessionEnds(void* context) {
  return static_cast<SessionEnd*>(context)->Requested() ? STATUS_SESSION_ENDING : STATUS_OK;
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

// Record, log, then the hand-over, each on the disk before the provider is
// called: a run that is killed or loses power during the write leaves that
// trace, where the call's answer would never come. Without the record no
// image is handed over. The session's end is looked at last, at the same
// moment the hand-over is marked, so that a session ending during the
// flushes stops the write instead of being told it runs.
TbtStatus HandOver(const ImageBlock& image, const AttemptRecord& record, SessionEnd& sessionEnd) {
  AttemptRecord inProgress = record;
  inProgress.status = ERR_INTERRUPTED;
  if (!RecordAttempt(inProgress) || !MarkThisBoot(BootAttempt::kInterrupted, record.imageSha256)) {
    RunLog(
        "UpdateFirmware: not called: the attempt could not be put on record, and no image is written without "
        "it");
    return ERR_RECORD_UNWRITABLE;
  }
  RunLog("UpdateFirmware: handing the image (%lu bytes) to the provider; the write must not be interrupted",
         static_cast<unsigned long>(image.Size()));
  RunLogFlush();
  if (!sessionEnd.BeginHandOver()) {
    MarkThisBoot(BootAttempt::kNone);
    return STATUS_SESSION_ENDING;
  }
  return STATUS_OK;
}

// Hands the image over and takes the provider's answer. Only an answer ends
// "interrupted": a call that failed, or brought no ReturnValue, after the
// image was handed over may have written part of it.
TbtStatus WriteImage(const ImageBlock& image, AttemptRecord& record, SessionEnd& sessionEnd) {
  TbtWriteAnswer answer;
  TbtStatus status = TbtUpdateFirmware(
      image.Bytes(), static_cast<int32_t>(image.Size()), [&] { return HandOver(image, record, sessionEnd); },
      answer);
  if (answer.executed && !answer.answered) {
    RunLog(
        "UpdateFirmware: the image was handed over and the call ended without the provider's answer: what "
        "the "
        "controller holds is unknown, and no other write is made before the computer restarts");
    return ERR_OUTCOME_UNKNOWN;
  }
  if (answer.answered) {
    record.providerCode = answer.returnValue;
    // The write is over either way; written, it is what a shutdown makes the
    // controller run, and no second image follows it in this boot.
    const bool bNoted = status == STATUS_OK ? MarkThisBoot(BootAttempt::kWritten, record.imageSha256)
                                            : MarkThisBoot(BootAttempt::kNone);
    if (!bNoted) RunLog("this boot: the answer could not be noted; the next run waits for a restart");
  }
  RunLog("UpdateFirmware: %s", StatusForLog(status).c_str());
  return status;
}

// Reads the open image, checks it against the controller, applies the version
// policy and, unless the run only checks, hands it over.
TbtStatus CheckAndWrite(HANDLE hFile, uint32_t currentVersion, const UpdateState& state,
                        AttemptRecord& record, SessionEnd& sessionEnd) {
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
  return WriteImage(image, record, sessionEnd);
}

// Finds, opens and hands on the image of data\ beside the executable.
TbtStatus UpdateWithImage(uint32_t currentVersion, const UpdateState& state, AttemptRecord& record,
                          SessionEnd& sessionEnd) {
  const std::wstring folder = ImageDataFolder();
  const std::wstring imagePath = FindImage(folder);
  if (imagePath.empty()) {
    RunLog("image: no *.bin in %s", Utf8(folder).c_str());
    return ERR_IMAGE_UNUSABLE;
  }
  RunLog("image: %s", Utf8(imagePath).c_str());
  // Exclusive: nobody changes the image between the check and the write.
  const HANDLE hFile = OpenImage(imagePath);
  if (hFile == INVALID_HANDLE_VALUE) {
    RunLog("image: cannot be opened for reading alone (error %lu)", GetLastError());
    return ERR_IMAGE_UNUSABLE;
  }
  const TbtStatus status = CheckAndWrite(hFile, currentVersion, state, record, sessionEnd);
  CloseHandle(hFile);
  return status;
}

// Everything between the first wait and the tail.
TbtStatus ReachController(const UpdateState& state, AttemptRecord& record, SessionEnd& sessionEnd) {
  if (sessionEnd.Requested()) return STATUS_SESSION_ENDING;
  if (!TbtConnect()) {
    RunLog("provider ROOT\\Intel\\Thunderbolt: cannot connect");
    return ERR_PROVIDER_FAILED;
  }
  RunLog("provider ROOT\\Intel\\Thunderbolt: connected");

  uint32_t currentVersion = 0;
  if (TbtStatus status = TbtGetCurrentNvmVersion(currentVersion)) return status;
  record.versionBeforeAttempt = currentVersion;
  return UpdateWithImage(currentVersion, state, record, sessionEnd);
}

// Every attempt is on record, however early it ended.
TbtStatus RunUpdate(const UpdateState& state, SessionEnd& sessionEnd) {
  AttemptRecord record;
  record.checkOnly = state.m_bCheckOnly != 0;
  record.status = ReachController(state, record, sessionEnd);
  // Between any two steps, a provider call included: whatever ended, nothing
  // was handed over.
  if (record.status == STATUS_SESSION_ENDING && !sessionEnd.HandedOver())
    RunLog("the session is ending: stopped before the image was handed over; nothing was written");
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
  SessionEnd unending;  // a run nobody ends: no session told it anything
  SessionEnd& sessionEnd = pState->m_pSessionEnd ? *pState->m_pSessionEnd : unending;

  // Every provider call runs in this thread's own apartment, and none once
  // the session is ending.
  const HRESULT hrCom = CoInitialize(nullptr);
  TbtSetCallGate(StopWhenTheSessionEnds, &sessionEnd);
  uint32_t reply = 0;
  RunLog("device 0x%08X on: %s", TBT_ACPI_DEVICE_ID,
         AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_ON, reply) ? "sent" : "not sent");
  StartTbtService(kServiceName);
  RunLog("service ThunderboltService: start requested; waiting %lu ms",
         static_cast<unsigned long>(kSettleMs));
  g_pfnSleep(kSettleMs, sessionEnd);

  pState->m_dwStatus = RunUpdate(*pState, sessionEnd);

  // The tail runs on every path; a session that is ending gets the device
  // switched off at once: Windows gives a program seconds, not a settle wait.
  // A write without an answer may still run in the provider's process:
  // switching the device off under it could leave the controller without
  // firmware, so it stays on until the computer restarts.
  const bool bWriteMayRun = pState->m_dwStatus == ERR_OUTCOME_UNKNOWN;
  if (sessionEnd.Requested() && !sessionEnd.HandedOver()) {
    RunLog("the session is ending: the device is switched off without waiting");
  } else {
    RunLog("waiting %lu ms before the device is switched off", static_cast<unsigned long>(kSettleMs));
    g_pfnSleep(kSettleMs, sessionEnd);
  }
  if (bWriteMayRun) {
    RunLog("device 0x%08X: left on, since the provider may still be writing; a restart switches it off",
           TBT_ACPI_DEVICE_ID);
  } else {
    RunLog("device 0x%08X off: %s", TBT_ACPI_DEVICE_ID,
           AcpiSetDeviceState(TBT_ACPI_DEVICE_ID, ACPI_DEVICE_OFF, reply) ? "sent" : "not sent");
  }
  TbtSetCallGate(nullptr, nullptr);
  if (SUCCEEDED(hrCom)) CoUninitialize();
  return 0;
}
