// The image's fingerprint, and the one a release was packaged with.
#pragma once

#include <cstdint>
#include <string>

// SHA-256 of `size` bytes in lower-case hex, computed by the platform's
// cryptography (CNG); empty when it is not available.
std::string ImageSha256(const uint8_t* bytes, uint32_t size);

enum class ReleaseBinding {
  kUnbound,    // a developer's build: no image named
  kBound,      // `sha256` is the only image this program writes
  kMalformed,  // a resource that names no image: nothing may be written
};

// The image SHA-256 that the running program's own resources name (put there
// by the package script before signing, so the signature covers it).
ReleaseBinding ReadReleaseBinding(std::string& sha256);
