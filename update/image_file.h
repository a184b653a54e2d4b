// The firmware image that ships in data\ beside the executable: found, opened
// for this program alone and read whole into memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/status.h"

// "data" beside the running executable, however deep its folder; empty when
// the executable's path cannot be read.
std::wstring ImageDataFolder();

// The first entry that the listing of folder\*.bin yields whose own name ends
// in ".bin" ("." and ".." aside). The listing is not sorted, and a directory
// counts like a file (its open then fails). Empty when there is none.
std::wstring FindImage(const std::wstring& folder);

// `path` as the file functions take it: one of MAX_PATH characters or more
// only reaches them in its extended form.
std::wstring ForFileApi(const std::wstring& path);

// Opens the image for reading, shared with nobody, so that nobody changes it
// between the check and the write; INVALID_HANDLE_VALUE when it cannot be.
HANDLE OpenImage(const std::wstring& path);

// The image in a zero-filled movable block, freed with it.
class ImageBlock {
 public:
  ImageBlock() = default;
  ImageBlock(const ImageBlock&) = delete;
  ImageBlock& operator=(const ImageBlock&) = delete;
  ~ImageBlock();
  // A movable block of size 0 cannot be locked: an empty file gets one byte,
  // and the check refuses it by its size of 0.
  bool Allocate(DWORD size);
  uint8_t* Bytes() const { return m_pBytes; }
  DWORD Size() const { return m_size; }

 private:
  HGLOBAL m_hBlock = nullptr;
  uint8_t* m_pBytes = nullptr;
  DWORD m_size = 0;
};

// The whole open file into `image`, or why not (ERR_IMAGE_UNUSABLE,
// ERR_OUT_OF_MEMORY).
TbtStatus ReadImage(HANDLE hFile, ImageBlock& image);
