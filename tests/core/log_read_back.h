// Reads a line of the run's log back to the text that was logged, by the
// escapes the log documents; tests compare what was logged, not its escapes.
#pragma once

#include <cstdint>
#include <string>

// The log's escapes read back: "\\\\" a backslash, "\\r" "\\n" "\\t", "\\xHH" and
// "\\uHHHH" what they name; anything else after a backslash is no log line.
inline bool ReadBack(const std::string& line, std::string& text) {
  text.clear();
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '\\') {
      text += line[i];
      continue;
    }
    if (++i == line.size()) return false;
    const char kind = line[i];
    if (kind == '\\' || kind == 'r' || kind == 'n' || kind == 't') {
      text += kind == '\\' ? '\\' : kind == 'r' ? '\r' : kind == 'n' ? '\n' : '\t';
      continue;
    }
    const size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : 0;
    if (digits == 0 || i + digits >= line.size()) return false;
    const unsigned long c = std::stoul(line.substr(i + 1, digits), nullptr, 16);
    i += digits;
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += static_cast<char>(0xC0 | (c >> 6));
      text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | (c >> 12));
      text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}
