#include "update/image_hash.h"

#include <windows.h>
#include <bcrypt.h>

std::string ImageSha256(const uint8_t* bytes, uint32_t size) {
  // The calls Windows 7 has (no pseudo-handles, no one-shot hash).
  BCRYPT_ALG_HANDLE hAlgorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&hAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
    return {};
  uint8_t digest[32] = {};
  BCRYPT_HASH_HANDLE hHash = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptCreateHash(hAlgorithm, &hHash, nullptr, 0, nullptr, 0, 0));
  ok = ok && BCRYPT_SUCCESS(BCryptHashData(hHash, const_cast<PUCHAR>(bytes), size, 0));
  ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hHash, digest, sizeof digest, 0));
  if (hHash) BCryptDestroyHash(hHash);
  BCryptCloseAlgorithmProvider(hAlgorithm, 0);
  if (!ok) return {};
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : digest) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}
