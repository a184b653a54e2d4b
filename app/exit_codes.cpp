#include "app/exit_codes.h"

#include <cstdio>
#include <cwchar>

#include "app/options.h"
#include "app/status.h"

namespace {

const ExitCodeRow kRows[] = {
    {STATUS_OK, "STATUS_OK", "updated (with /c: the image suits; nothing was written)", false},
    {ERR_ACPI_DEVICE_MISSING, "ERR_ACPI_DEVICE_MISSING", "the ACPI control device is missing", false},
    {ERR_CONTROLLER_NOT_FOUND, "ERR_CONTROLLER_NOT_FOUND", "the provider lists no controller", false},
    {ERR_PROVIDER_FAILED, "ERR_PROVIDER_FAILED", "the provider cannot be reached or a call failed", false},
    {ERR_UNKNOWN_DEVICE_ID, "ERR_UNKNOWN_DEVICE_ID", "a device ID outside the known table", false},
    {ERR_IMAGE_UNUSABLE, "ERR_IMAGE_UNUSABLE", "no image, or one that cannot be read whole", false},
    {ERR_IMAGE_MISMATCH, "ERR_IMAGE_MISMATCH", "a board setting differs between controller and image", false},
    {ERR_OUT_OF_MEMORY, "ERR_OUT_OF_MEMORY", "no memory for the image", false},
    {ERR_UNSUPPORTED_FAMILY, "ERR_UNSUPPORTED_FAMILY", "a controller family the tool does not update", false},
    {ERR_FAMILY_MISMATCH, "ERR_FAMILY_MISMATCH", "the image is for another controller family", false},
    {ERR_PORT_CONFIG_MISMATCH, "ERR_PORT_CONFIG_MISMATCH", "the image is for another port configuration",
     false},
    {ERR_IMAGE_TOO_NEW, "ERR_IMAGE_TOO_NEW", "the image needs a newer NVM layout than the controller has",
     false},
    {ERR_DOWNGRADE_REFUSED, "ERR_DOWNGRADE_REFUSED", "the image is older than the installed firmware", false},
    {ERR_ON_BATTERY, "ERR_ON_BATTERY", "silent run on battery: nothing was done", false},
    {ERR_ALREADY_RUNNING, "ERR_ALREADY_RUNNING",
     "another update is running on this computer: nothing was done", false},
    {ERR_NOT_INTERACTIVE, "ERR_NOT_INTERACTIVE", "a window no one can see (no /s or /c): nothing was done",
     false},
    {ERR_IMAGE_NOT_RELEASED, "ERR_IMAGE_NOT_RELEASED",
     "the image is not the one this release was packaged with: nothing was written", false},
    {ERR_LOCK_NOT_OURS, "ERR_LOCK_NOT_OURS",
     "the update lock's name is held by a program that is not this tool: nothing was done", false},
    {ERR_OUTCOME_UNKNOWN, "ERR_OUTCOME_UNKNOWN",
     "the image was handed over and the call ended without an answer: the firmware is unknown", false},
    {ERR_RESTART_REQUIRED, "ERR_RESTART_REQUIRED",
     "an update since the computer started was interrupted or is waiting: restart first; nothing was done",
     false},
    {ERR_PROVIDER_CODE_RESERVED, "ERR_PROVIDER_CODE_RESERVED",
     "the provider answered with one of this tool's own codes (its value is in the log and the record)",
     false},
    {ERR_RECORD_UNWRITABLE, "ERR_RECORD_UNWRITABLE",
     "the record could not be written before the write: nothing was written", false},
    {STATUS_SESSION_ENDING, "ERROR_SHUTDOWN_IN_PROGRESS",
     "the session began to end before the write: nothing was written, the device is off", false},
    {kExitCancelled, "ERROR_CANCELLED", "the window was closed, or the session ended, before any attempt",
     false},
    {kExitGraphicsNotStarted, "ERROR_DLL_INIT_FAILED",
     "the window could not be drawn (graphics did not start)", false},
    {kExitNoWindowArt, "ERROR_RESOURCE_DATA_NOT_FOUND", "the window could not be drawn (its art is unusable)",
     false},
    {kExitSystemLibraryMissing, "ERROR_MOD_NOT_FOUND",
     "a system library could not be loaded from the system folder: nothing was done", false},
    {kExitInvalidCommandLine, "ERROR_INVALID_COMMAND_LINE",
     "/? was given, or a run with /s or /c has an unknown or malformed argument: nothing was done", false},
    {0, nullptr, "the provider's own code", true},
};

constexpr wchar_t kOptions[] =
    L"TbtFwUpdate [/s | /c] [/l=PATH] [/downgradable] [/LID:hex] [/?]\r\n"
    L"  (none)         the window: read the prompt, press Update\r\n"
    L"  /s             silent: no window; the exit code is the outcome; never powers off\r\n"
    L"  /c             check only (silent): everything but the write; exit 0 when the image suits\r\n"
    L"  /l=PATH        append a log of the run (UTF-8) to PATH\r\n"
    L"  /downgradable  permit an image older than the installed firmware\r\n"
    L"  /LID:hex       language of the texts, e.g. /LID:411\r\n"
    L"With /s or /c every argument must be one of these, well formed, or nothing is done (1639).\r\n"
    L"Exit codes:\r\n";

}  // namespace

const ExitCodeRow* ExitCodeRows(size_t& count) {
  count = sizeof kRows / sizeof kRows[0];
  return kRows;
}

bool IsOwnOutcome(uint32_t code) {
  return code != 0 && ((code >> 16) == 0x1043 || FindExitCode(code) != nullptr);
}

const ExitCodeRow* FindExitCode(uint32_t code) {
  for (const ExitCodeRow& row : kRows) {
    if (!row.anyOther && row.code == code) return &row;
  }
  return nullptr;
}

std::wstring UsageText() {
  std::wstring text = kOptions;
  for (const ExitCodeRow& row : kRows) {
    wchar_t line[200];
    if (row.anyOther) {
      std::swprintf(line, 200, L"  other       %hs\r\n", row.meaning);
    } else if (row.code < 0x10000 && row.code != 0) {
      std::swprintf(line, 200, L"  0x%08X  (%u) %hs\r\n", static_cast<unsigned>(row.code),
                    static_cast<unsigned>(row.code), row.meaning);
    } else {
      std::swprintf(line, 200, L"  0x%08X  %hs\r\n", static_cast<unsigned>(row.code), row.meaning);
    }
    text += line;
  }
  return text;
}
