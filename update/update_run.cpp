#include "update/update_run.h"

#include "app/run_log.h"
#include "controller/acpi_channel.h"
#include "controller/power_source.h"
#include "update/attempt_record.h"
#include "update/image_file.h"
#include "update/image_hash.h"
#include "update/session_guard.h"
#include "update/update_lock.h"
#include "update/update_worker.h"
#include "update/utf8.h"

UpdatePrecheck CheckUpdatePreconditions() {
  if (!AcpiIsOpen()) AcpiOpen();
  if (!AcpiIsOpen()) {
    RunLog("ACPI control device \\\\.\\QMXACPI: cannot be opened");
    return UpdatePrecheck::kDeviceMissing;
  }
  RunLog("ACPI control device \\\\.\\QMXACPI: open");
  const bool bOnBattery = PowerRunsOnBattery();
  RunLog("power: %s", bOnBattery ? "on battery" : "mains (or not reported)");
  return bOnBattery ? UpdatePrecheck::kOnBattery : UpdatePrecheck::kReady;
}

namespace {

// The SHA-256 of the image a run would write now, or empty.
std::string ShippedImageSha256() {
  const HANDLE hFile = OpenImage(FindImage(ImageDataFolder()));
  if (hFile == INVALID_HANDLE_VALUE) return {};
  ImageBlock image;
  const TbtStatus status = ReadImage(hFile, image);
  CloseHandle(hFile);
  return status == STATUS_OK ? ImageSha256(image.Bytes(), image.Size()) : std::string();
}

TbtStatus CheckThisBoot(bool& bAlreadyWritten) {
  const ThisBootAttempt attempt = ReadThisBoot();
  const std::string when = attempt.time.empty() ? "an unknown time" : Utf8(attempt.time);
  const std::string sha = attempt.imageSha256.empty() ? "unknown" : Utf8(attempt.imageSha256);
  switch (attempt.kind) {
    case BootAttempt::kNone: return STATUS_OK;
    case BootAttempt::kInterrupted:
      RunLog(
          "this boot: the image handed over at %s (SHA-256 %s) has no answer: the write was interrupted, "
          "failed "
          "unanswered or still runs; nothing is done before the computer restarts",
          when.c_str(), sha.c_str());
      return ERR_RESTART_REQUIRED;
    case BootAttempt::kWritten: break;
  }
  if (ShippedImageSha256() == Utf8(attempt.imageSha256)) {
    RunLog(
        "this boot: this image (SHA-256 %s) was written at %s and takes effect once the computer has been "
        "shut "
        "down; it is not written again",
        sha.c_str(), when.c_str());
    bAlreadyWritten = true;
    return STATUS_OK;
  }
  RunLog(
      "this boot: an image (SHA-256 %s) was written at %s; no other image is written before the computer "
      "restarts",
      sha.c_str(), when.c_str());
  return ERR_RESTART_REQUIRED;
}

}  // namespace

TbtStatus UpdateRunBegin(HANDLE& hLock, bool& bAlreadyWritten) {
  bAlreadyWritten = false;
  switch (UpdateLockAcquire(hLock)) {
    case UpdateLockResult::kBusy: return ERR_ALREADY_RUNNING;
    case UpdateLockResult::kNotOurs: return ERR_LOCK_NOT_OURS;
    default: break;
  }
  // With the lock held no attempt runs: one on record as handed over ended
  // without its answer.
  LogInterruptedAttempt();
  const TbtStatus status = CheckThisBoot(bAlreadyWritten);
  if (status != STATUS_OK || bAlreadyWritten) UpdateLockRelease(hLock);
  return status;
}

void UpdateRunRecordRefusal(TbtStatus status, bool bCheckOnly) {
  AttemptRecord record;
  record.status = status;
  record.checkOnly = bCheckOnly;
  RecordAttempt(record);
}

namespace {

// What a silent run's hidden window needs when the session ends under it.
UpdateState* g_pUnattended = nullptr;
HANDLE g_hUnattendedLock = nullptr;

void EndUnattendedWithSession() {
  AcpiClose();
  UpdateLockRelease(g_hUnattendedLock);
  SessionGuardExit(g_pUnattended ? g_pUnattended->m_dwStatus : STATUS_SESSION_ENDING);
}

}  // namespace

TbtStatus RunUpdateUnattended(UpdateState& state, const wchar_t* pszShutdownReason) {
  HANDLE& hLock = g_hUnattendedLock;
  bool bAlreadyWritten = false;
  if (TbtStatus refused = UpdateRunBegin(hLock, bAlreadyWritten)) {
    state.m_dwStatus = refused;
    return refused;
  }
  if (bAlreadyWritten) {
    state.m_bAlreadyWritten = 1;
    state.m_dwStatus = STATUS_OK;
    return STATUS_OK;
  }
  SessionEnd sessionEnd;
  state.m_pSessionEnd = &sessionEnd;
  g_pUnattended = &state;
  TbtStatus status = STATUS_OK;
  bool bWorkerRan = false;  // then the worker has put its outcome on record
  switch (CheckUpdatePreconditions()) {
    case UpdatePrecheck::kDeviceMissing: status = ERR_ACPI_DEVICE_MISSING; break;
    case UpdatePrecheck::kOnBattery:
      if (!state.m_bCheckOnly) {
        status = ERR_ON_BATTERY;
        break;
      }
      [[fallthrough]];
    case UpdatePrecheck::kReady: {
      // Started suspended: the guard is in place before the worker's first step.
      HANDLE hThread = ::CreateThread(nullptr, 0, UpdateWorker, &state, CREATE_SUSPENDED, nullptr);
      if (!hThread) {
        status = ERR_OUT_OF_MEMORY;  // as the window reports a worker that cannot start
        break;
      }
      HWND hGuard = SessionGuardCreateWindow(EndUnattendedWithSession);
      if (!hGuard) RunLog("session guard window: cannot be created (error %lu)", GetLastError());
      SessionGuardBegin(hGuard, hThread, sessionEnd, pszShutdownReason,
                        state.m_bCheckOnly ? SessionRun::kCheck : SessionRun::kWriteHidden);
      ::ResumeThread(hThread);
      SessionGuardWaitDispatching(hThread);
      SessionGuardEnd();
      if (hGuard) ::DestroyWindow(hGuard);
      ::CloseHandle(hThread);
      status = state.m_dwStatus;
      bWorkerRan = true;
      break;
    }
  }
  if (!bWorkerRan) UpdateRunRecordRefusal(status, state.m_bCheckOnly != 0);
  AcpiClose();
  UpdateLockRelease(hLock);
  g_pUnattended = nullptr;
  state.m_pSessionEnd = nullptr;
  state.m_dwStatus = status;
  return status;
}
