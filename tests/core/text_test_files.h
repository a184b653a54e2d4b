// Helpers for the text tests: real INI files in a private temporary folder,
// written in the shipped encoding (UTF-16LE with a byte order mark) or as raw bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace texttest {

// UTF-16LE code units of a wide string (wchar_t is UTF-32 off Windows).
inline std::vector<unsigned char> Utf16Le(std::wstring_view text, bool bom) {
  std::vector<unsigned char> bytes;
  auto unit = [&](uint32_t u) {
    bytes.push_back(static_cast<unsigned char>(u & 0xFF));
    bytes.push_back(static_cast<unsigned char>(u >> 8));
  };
  if (bom) unit(0xFEFF);
  for (wchar_t c : text) {
    const uint32_t cp = static_cast<uint32_t>(c);
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return bytes;
}

inline void WriteBytes(const std::filesystem::path& file, const std::vector<unsigned char>& bytes) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline void WriteIni(const std::filesystem::path& file, std::wstring_view text) {
  WriteBytes(file, Utf16Le(text, true));
}

inline std::vector<unsigned char> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A fresh folder under the system's temporary folder, removed again on destruction,
// so test processes running side by side never share a file.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
      path_ = base / ("tbt-text-" + std::to_string(rd()) + std::to_string(rd()));
      if (std::filesystem::create_directory(path_)) return;
    }
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace texttest
