// Whether an image was built for this controller and this board.
#pragma once

#include <cstdint>

#include "app/status.h"
#include "controller/nvm_layout.h"

struct CompatRule {
  uint32_t family;          // the controller family the row belongs to
  uint32_t allPortConfigs;  // 1: always; 0: only when the controller's portConfig is 0
  uint32_t offset;          // from the base that `region` selects
  uint32_t width;           // 1, 2 or 4 bytes
  char16_t label[20];       // name of the setting
  uint32_t mask;            // low byte ANDed into the low byte of both values
  uint32_t region;          // 0 sectionBase, 1 linkedBase, 2 chainBase
};

extern const CompatRule g_CompatRules[];
extern const uint32_t g_nCompatRules;

// What the check saw, for tools that explain a refusal.
struct CompatReport {
  NvmLayout controller;
  NvmLayout image;
  bool controllerProbed = false;  // the layouts above were filled completely
  bool imageProbed = false;
  uint32_t controllerFirstBits = 0;  // low three bits of the first section byte
  uint32_t imageFirstBits = 0;
  int32_t failedRow = -1;        // index into g_CompatRules of the refusing row
  bool chainMissing = false;     // the row failed because one side has no chain
  uint32_t controllerValue = 0;  // masked values of the refusing row
  uint32_t imageValue = 0;
};

// Checks `image` (the whole file, `size` bytes) against the installed
// controller. On STATUS_OK sets imageVersion; otherwise leaves it unchanged.
TbtStatus CheckImageCompatibility(const uint8_t* image, uint32_t size, uint32_t& imageVersion,
                                  CompatReport* report = nullptr);
