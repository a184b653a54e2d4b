// The compatibility check's findings in words: both layouts and why an image
// was refused. nvmcheck prints them; the update's log records them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/status.h"
#include "controller/compat_rules.h"

// "controller: version 0x20, family 5, port configuration 1, section 0x0, ..."
std::string DescribeLayout(const char* side, const NvmLayout& layout);

// The layouts the check filled, then the reason for `status`: the refusing
// rule row with both masked values, the differing family, port configuration
// or first-byte bits, or both versions for a refused downgrade.
std::vector<std::string> ExplainCheck(TbtStatus status, const CompatReport& report, uint32_t imageVersion,
                                      uint32_t currentVersion);
