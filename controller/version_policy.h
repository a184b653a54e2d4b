// Whether an image of a given version may replace the installed firmware.
#pragma once

#include <cstdint>

#include "app/status.h"

// STATUS_OK when the image may be written: it is not older than the installed
// firmware (unsigned comparison) or downgrades are permitted; otherwise
// ERR_DOWNGRADE_REFUSED.
TbtStatus ApplyVersionPolicy(uint32_t imageVersion, uint32_t currentVersion, int32_t downgradable);
