// The image's fingerprint for the support log.
#pragma once

#include <cstdint>
#include <string>

// SHA-256 of `size` bytes in lower-case hex, computed by the platform's
// cryptography (CNG); empty when it is not available.
std::string ImageSha256(const uint8_t* bytes, uint32_t size);
