#include "update/image_hash.h"

#include <windows.h>
#include <bcrypt.h>

#include "res/resource.h"

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

ReleaseBinding ReadReleaseBinding(std::string& sha256) {
  sha256.clear();
  // Our own module's mapping: what the signature covers, not a file anyone
  // could replace after the start.
  const HRSRC hInfo = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_RELEASE_IMAGE_SHA256), RT_RCDATA);
  if (!hInfo) return ReleaseBinding::kUnbound;
  const HGLOBAL hData = LoadResource(nullptr, hInfo);
  const char* text = hData ? static_cast<const char*>(LockResource(hData)) : nullptr;
  if (!text || SizeofResource(nullptr, hInfo) != 64) return ReleaseBinding::kMalformed;
  for (size_t i = 0; i < 64; ++i) {
    const char c = text[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return ReleaseBinding::kMalformed;
  }
  sha256.assign(text, 64);
  return ReleaseBinding::kBound;
}
