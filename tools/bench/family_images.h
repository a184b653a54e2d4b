// A controller NVM and an image that passes the compatibility check against
// it, for each controller family: the image's active section carries the same
// settings as the controller's. For the update worker's tests and benchmark.
#pragma once

#include <cstdint>
#include <vector>

struct FamilyPair {
  std::vector<uint8_t> controller;  // the provider's offset space, active section at 0
  std::vector<uint8_t> image;       // a whole image file, active section at `imageBase`
};

// A device ID of `family` (1 to 5) with port-configuration flag 1.
uint16_t FamilyDeviceId(int family);

// `salt` changes bytes outside the compared settings, so that two compatible
// images of one family can be told apart.
FamilyPair BuildFamilyPair(int family, uint8_t imageVersion, uint16_t imageBase = 0x4000, uint8_t salt = 0);
