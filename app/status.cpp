#include "app/status.h"

const char* StatusName(TbtStatus status) {
  switch (status) {
    case STATUS_OK: return "STATUS_OK";
    case ERR_ACPI_DEVICE_MISSING: return "ERR_ACPI_DEVICE_MISSING";
    case ERR_CONTROLLER_NOT_FOUND: return "ERR_CONTROLLER_NOT_FOUND";
    case ERR_PROVIDER_FAILED: return "ERR_PROVIDER_FAILED";
    case ERR_UNKNOWN_DEVICE_ID: return "ERR_UNKNOWN_DEVICE_ID";
    case ERR_IMAGE_UNUSABLE: return "ERR_IMAGE_UNUSABLE";
    case ERR_IMAGE_MISMATCH: return "ERR_IMAGE_MISMATCH";
    case ERR_OUT_OF_MEMORY: return "ERR_OUT_OF_MEMORY";
    case ERR_UNSUPPORTED_FAMILY: return "ERR_UNSUPPORTED_FAMILY";
    case ERR_FAMILY_MISMATCH: return "ERR_FAMILY_MISMATCH";
    case ERR_PORT_CONFIG_MISMATCH: return "ERR_PORT_CONFIG_MISMATCH";
    case ERR_IMAGE_TOO_NEW: return "ERR_IMAGE_TOO_NEW";
    case ERR_DOWNGRADE_REFUSED: return "ERR_DOWNGRADE_REFUSED";
    case ERR_ON_BATTERY: return "ERR_ON_BATTERY";
    case ERR_ALREADY_RUNNING: return "ERR_ALREADY_RUNNING";
    case ERR_NOT_INTERACTIVE: return "ERR_NOT_INTERACTIVE";
    case ERR_IMAGE_NOT_RELEASED: return "ERR_IMAGE_NOT_RELEASED";
    case ERR_INTERRUPTED: return "ERR_INTERRUPTED";
    case ERR_LOCK_NOT_OURS: return "ERR_LOCK_NOT_OURS";
    case ERR_OUTCOME_UNKNOWN: return "ERR_OUTCOME_UNKNOWN";
    case ERR_RESTART_REQUIRED: return "ERR_RESTART_REQUIRED";
    case ERR_PROVIDER_CODE_RESERVED: return "ERR_PROVIDER_CODE_RESERVED";
    case ERR_RECORD_UNWRITABLE: return "ERR_RECORD_UNWRITABLE";
    case STATUS_SESSION_ENDING: return "ERROR_SHUTDOWN_IN_PROGRESS";
    default: return nullptr;
  }
}

StatusText StatusTextFor(TbtStatus status) {
  switch (status) {
    case STATUS_OK: return {L"IDS_SUCCESS", false};
    case ERR_ACPI_DEVICE_MISSING: return {L"IDS_FIND_NO_QMX", false};
    case ERR_PROVIDER_FAILED: return {L"IDS_FIND_NO_SW", false};
    case ERR_DOWNGRADE_REFUSED: return {L"IDS_DOWNGRADE", false};
    case ERR_ON_BATTERY: return {L"IDS_CAUTION", false};
    case ERR_ALREADY_RUNNING: return {L"IDS_BUSY", false};
    case ERR_IMAGE_NOT_RELEASED:
      return {L"IDS_NOT_RELEASED", false,
              L"This firmware image does not belong to this release. Download the update package again."};
    case ERR_RESTART_REQUIRED:
      return {
          L"IDS_RESTART_REQUIRED", false,
          L"An update since this computer started was interrupted, or is waiting for a restart. Restart the "
          L"computer, then run the update again."};
    default: return {L"IDS_ERROR", true};
  }
}

StatusText UnattendedStatusTextFor(TbtStatus status, bool checkOnly) {
  if (status == STATUS_OK && checkOnly)
    return {L"IDS_CHECK_ONLY_OK", false,
            L"This image suits this computer's controller. Nothing was written (check only)."};
  if (status == ERR_ON_BATTERY)
    return {L"IDS_BATTERY_UNATTENDED", false,
            L"The computer is running on battery, so nothing was done. Connect the power adapter and run the "
            L"update again."};
  return StatusTextFor(status);
}
