// Status codes: the one way every step of an update reports its outcome.
#pragma once

#include <cstdint>

using TbtStatus = uint32_t;

constexpr TbtStatus STATUS_OK = 0x00000000;
constexpr TbtStatus ERR_ACPI_DEVICE_MISSING = 0x10430001;
constexpr TbtStatus ERR_CONTROLLER_NOT_FOUND = 0x10430002;
constexpr TbtStatus ERR_PROVIDER_FAILED = 0x10430003;
constexpr TbtStatus ERR_UNKNOWN_DEVICE_ID = 0x10430004;
constexpr TbtStatus ERR_IMAGE_UNUSABLE = 0x10430005;
constexpr TbtStatus ERR_IMAGE_MISMATCH = 0x10430006;
constexpr TbtStatus ERR_OUT_OF_MEMORY = 0x10430007;
constexpr TbtStatus ERR_UNSUPPORTED_FAMILY = 0x10430008;
constexpr TbtStatus ERR_FAMILY_MISMATCH = 0x10430009;
constexpr TbtStatus ERR_PORT_CONFIG_MISMATCH = 0x1043000A;
constexpr TbtStatus ERR_IMAGE_TOO_NEW = 0x1043000B;
constexpr TbtStatus ERR_DOWNGRADE_REFUSED = 0x1043000C;
// A silent run on battery: nothing was asked of the controller. Ours, like
// the codes above, so no provider's return value can be mistaken for it.
constexpr TbtStatus ERR_ON_BATTERY = 0x1043000D;
// Another update holds this machine: nothing was asked of the device.
constexpr TbtStatus ERR_ALREADY_RUNNING = 0x1043000E;
// A run with a window in a window station nobody sees: it would wait for a
// press that never comes, so it ends at once and touches nothing.
constexpr TbtStatus ERR_NOT_INTERACTIVE = 0x1043000F;
// A released program writes only the image it was packaged with (its SHA-256
// is a resource of the signed exe): any other image is refused unwritten.
constexpr TbtStatus ERR_IMAGE_NOT_RELEASED = 0x10430011;
// Only ever on record, never a run's outcome: the image was handed to the
// provider and the run ended (killed, crashed, lost power) before the answer.
constexpr TbtStatus ERR_INTERRUPTED = 0x10430010;
// The machine's update lock exists but was made by another program, not by a
// run of this tool: nothing was done, and no other update is claimed.
constexpr TbtStatus ERR_LOCK_NOT_OURS = 0x10430012;
// The image was handed to the provider, and the call ended without its
// answer (it failed, or the answer held no ReturnValue): what the controller
// holds is unknown, and its provider may still be writing. Treated like an
// interrupted write: no other write in this boot.
constexpr TbtStatus ERR_OUTCOME_UNKNOWN = 0x10430013;
// An attempt made since the computer started was interrupted or has an
// unknown outcome, or another image was written since then: nothing was done
// until the computer has restarted.
constexpr TbtStatus ERR_RESTART_REQUIRED = 0x10430014;
// The provider answered with a value this program uses for outcomes of its
// own (its 0x1043 family, or a Windows code it ends with): reported as this
// status, the provider's value in the log and on record.
constexpr TbtStatus ERR_PROVIDER_CODE_RESERVED = 0x10430015;
// The record could not be set to "interrupted" before the write: without that
// trace nothing is written.
constexpr TbtStatus ERR_RECORD_UNWRITABLE = 0x10430016;
// Windows' ERROR_SHUTDOWN_IN_PROGRESS: the session began to end before the
// image was handed over, so it never was; the device was switched off.
constexpr TbtStatus STATUS_SESSION_ENDING = 1115;

// The symbolic name of one of our own codes, or nullptr for a value that a
// provider method returned (those are passed through unchanged).
const char* StatusName(TbtStatus status);

// Key of the Update.ini text that the result line shows for a final status,
// and whether the code is appended as " (0X%08X)".
struct StatusText {
  const wchar_t* key;
  bool withCode;
  // Shown when Update.ini lacks the key (texts added after some were shipped).
  const wchar_t* fallback = nullptr;
};
StatusText StatusTextFor(TbtStatus status);

// The same for the console line of a run without a window: a check-only run
// that would write says that nothing was written, and no text asks a person
// to click anything.
StatusText UnattendedStatusTextFor(TbtStatus status, bool checkOnly);
