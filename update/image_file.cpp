#include "update/image_file.h"

#include <cwchar>
#include <cwctype>

#include "app/run_log.h"

namespace {

// The running executable's full path, however deep its folder.
std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    // Truncated: no Windows path is longer than 32,767 characters.
    if (path.size() > 32768) return {};
    path.resize(path.size() * 2);
  }
}

// The pattern also matches by the 8.3 name, which ends in ".BIN" for
// "z.binary" or "img.bin~": only the name people see counts.
bool EndsInBin(const wchar_t* name) {
  const size_t length = wcslen(name);
  if (length < 4 || name[length - 4] != L'.') return false;
  for (size_t i = 0; i < 3; ++i) {
    if (std::towlower(static_cast<wint_t>(name[length - 3 + i])) != static_cast<wint_t>(L"bin"[i]))
      return false;
  }
  return true;
}

}  // namespace

std::wstring ImageDataFolder() {
  const std::wstring exe = ExecutablePath();
  const size_t slash = exe.rfind(L'\\');
  if (slash == std::wstring::npos) return {};
  return exe.substr(0, slash + 1) + L"data";
}

std::wstring ForFileApi(const std::wstring& path) {
  if (path.size() < MAX_PATH || path.compare(0, 4, L"\\\\?\\") == 0 || path.compare(0, 4, L"\\\\.\\") == 0)
    return path;
  if (path.size() > 2 && path[1] == L':' && path[2] == L'\\') return L"\\\\?\\" + path;
  if (path.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + path.substr(2);
  return path;
}

std::wstring FindImage(const std::wstring& folder) {
  if (folder.empty()) return {};
  WIN32_FIND_DATAW found;
  const HANDLE hFind = FindFirstFileW(ForFileApi(folder + L"\\*.bin").c_str(), &found);
  if (hFind == INVALID_HANDLE_VALUE) return {};
  std::wstring path;
  do {
    if (EndsInBin(found.cFileName)) {
      path = folder + L"\\" + found.cFileName;
      break;
    }
  } while (FindNextFileW(hFind, &found));
  FindClose(hFind);
  return path;
}

HANDLE OpenImage(const std::wstring& path) {
  return CreateFileW(ForFileApi(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

ImageBlock::~ImageBlock() {
  if (!m_hBlock) return;
  if (m_pBytes) GlobalUnlock(m_hBlock);
  GlobalFree(m_hBlock);
}

bool ImageBlock::Allocate(DWORD size) {
  m_hBlock = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size > 0 ? size : 1);
  m_pBytes = m_hBlock ? static_cast<uint8_t*>(GlobalLock(m_hBlock)) : nullptr;
  m_size = size;
  return m_pBytes != nullptr;
}

TbtStatus ReadImage(HANDLE hFile, ImageBlock& image) {
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(hFile, &fileSize)) return ERR_IMAGE_UNUSABLE;
  // The provider takes a signed 32-bit size; a file beyond it cannot be held
  // whole, and cutting its size would hand over part of it.
  if (fileSize.QuadPart > INT32_MAX) return ERR_OUT_OF_MEMORY;
  const DWORD size = static_cast<DWORD>(fileSize.QuadPart);
  if (!image.Allocate(size)) return ERR_OUT_OF_MEMORY;

  // The whole file or nothing: the check looks at headers and settings only,
  // so a tail that failed to read (removable media, a network share) would
  // pass it and be written as zeros.
  DWORD total = 0;
  while (total < size) {
    DWORD read = 0;
    if (!ReadFile(hFile, image.Bytes() + total, size - total, &read, nullptr) || read == 0) break;
    total += read;
  }
  if (total != size) {
    RunLog("image: read %lu of %lu bytes", static_cast<unsigned long>(total),
           static_cast<unsigned long>(size));
    return ERR_IMAGE_UNUSABLE;
  }
  return STATUS_OK;
}
