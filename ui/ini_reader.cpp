#include "ui/ini_reader.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendCodePoint(std::wstring& text, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      text.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      text.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
      return;
    }
  }
  text.push_back(static_cast<wchar_t>(cp));
}

std::wstring DecodeUtf16(const unsigned char* p, size_t size, bool bigEndian) {
  std::wstring text;
  text.reserve(size / 2);
  const size_t units = size / 2;  // a trailing odd byte is not a character
  auto unitAt = [&](size_t i) -> char16_t {
    const unsigned char lo = p[2 * i + (bigEndian ? 1 : 0)];
    const unsigned char hi = p[2 * i + (bigEndian ? 0 : 1)];
    return static_cast<char16_t>(lo | (hi << 8));
  };
  for (size_t i = 0; i < units; ++i) {
    const char16_t u = unitAt(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
      const char16_t next = unitAt(i + 1);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        AppendCodePoint(text, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (char32_t(next) - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendCodePoint(text, u);  // an unpaired surrogate becomes U+FFFD there
  }
  return text;
}

std::wstring DecodeUtf8(const unsigned char* p, size_t size) {
  std::wstring text;
  text.reserve(size);
  size_t i = 0;
  while (i < size) {
    const unsigned char b = p[i];
    size_t len = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b < 0x80) {
      len = 1;
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1F;
      min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
      min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07;
      min = 0x10000;
    }
    bool ok = len != 0 && i + len <= size;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (!ok || cp < min) {
      // One replacement per bad lead byte; resynchronise on the next byte.
      AppendCodePoint(text, kReplacement);
      ++i;
      continue;
    }
    AppendCodePoint(text, cp);
    i += len;
  }
  return text;
}

// The profile API's notion of a blank: white space and the old end-of-file mark.
bool IsBlank(wchar_t c) {
  return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x1A;
}

std::wstring_view Trim(std::wstring_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

wchar_t FoldAscii(wchar_t c) {
  return (c >= L'A' && c <= L'Z') ? wchar_t(c - L'A' + L'a') : c;
}

bool SameName(std::wstring_view a, std::wstring_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

std::wstring_view ViewOf(const wchar_t* s) {
  return s ? std::wstring_view(s) : std::wstring_view();
}

uint32_t CopyCut(std::wstring_view value, wchar_t* out, uint32_t size) {
  if (!out || size == 0) return 0;
  const size_t n = std::min<size_t>(value.size(), size - 1);
  std::copy_n(value.data(), n, out);
  out[n] = L'\0';
  return static_cast<uint32_t>(n);
}

bool ReadFileBytes(const std::filesystem::path& file, std::vector<unsigned char>* bytes) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec || size > kIniMaxFileBytes) return false;
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  bytes->resize(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
  bytes->resize(static_cast<size_t>(in.gcount()));  // the file may have shrunk meanwhile
  return true;
}

}  // namespace

std::wstring IniDecodeText(const unsigned char* bytes, size_t size) {
  if (!bytes || size == 0) return {};
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return DecodeUtf16(bytes + 2, size - 2, false);
  if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return DecodeUtf16(bytes + 2, size - 2, true);
  if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF)
    return DecodeUtf8(bytes + 3, size - 3);
  return DecodeUtf8(bytes, size);
}

bool IniFindValue(std::wstring_view text, std::wstring_view section, std::wstring_view key,
                  std::wstring_view* value) {
  section = Trim(section);
  key = Trim(key);
  bool inSection = false;
  bool seenSection = false;
  while (!text.empty()) {
    const size_t eol = text.find(L'\n');
    std::wstring_view line = text.substr(0, eol);
    text.remove_prefix(eol == std::wstring_view::npos ? text.size() : eol + 1);

    line = Trim(line);
    if (line.empty()) continue;

    if (line.front() == L'[') {
      const size_t close = line.rfind(L']');
      if (close != std::wstring_view::npos) {
        // Only the first section of that name is searched, as the platform does.
        if (seenSection) return false;
        inSection = SameName(line.substr(1, close - 1), section);
        seenSection = inSection;
        continue;
      }
      // A "[" without "]" is no header; the line counts as a key line.
    }
    if (!inSection) continue;

    const size_t eq = line.find(L'=');
    const std::wstring_view name = Trim(line.substr(0, eq));
    if (!SameName(name, key)) continue;
    if (eq == std::wstring_view::npos) return false;  // the first match has no value
    if (value) *value = Trim(line.substr(eq + 1));
    return true;
  }
  return false;
}

uint32_t IniReadString(const std::filesystem::path& file, const wchar_t* section, const wchar_t* key,
                       const wchar_t* defaultValue, wchar_t* out, uint32_t size) {
  if (!out || size == 0) return 0;

  std::vector<unsigned char> bytes;
  if (section && key && ReadFileBytes(file, &bytes)) {
    const std::wstring text = IniDecodeText(bytes.data(), bytes.size());
    std::wstring_view value;
    if (IniFindValue(text, section, key, &value)) {
      if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
          value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
      }
      return CopyCut(value, out, size);
    }
  }

  std::wstring_view fallback = ViewOf(defaultValue);
  while (!fallback.empty() && fallback.back() == L' ') fallback.remove_suffix(1);
  return CopyCut(fallback, out, size);
}
