// A private-profile (INI) reader for platforms without GetPrivateProfileStringW.
// It answers lookups the way the Windows profile API does for the files we ship:
// section and key names match without regard to (ASCII) case, the first
// matching section and the first matching key in it win, a value runs to the end
// of its line with surrounding blanks and one pair of enclosing quotes removed,
// and it is cut to the caller's capacity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// Files larger than this are not read at all; lookups in them yield the default.
// Our own file is a few kilobytes, so this only bounds what a damaged file costs.
constexpr std::uintmax_t kIniMaxFileBytes = 1u << 20;

// Turns the bytes of an INI file into text. A UTF-16LE, UTF-16BE or UTF-8 byte
// order mark selects that encoding; bytes without a mark are taken as UTF-8.
// Malformed sequences and unpaired surrogates become U+FFFD. wchar_t is UTF-16
// on Windows and UTF-32 elsewhere; the text uses the platform's form.
std::wstring IniDecodeText(const unsigned char* bytes, size_t size);

// Finds `key` in `section` of decoded INI text. Returns false when the section
// or key is missing or the key's line has no "="; otherwise `value` views the
// raw value inside `text`, trimmed but with its quotes still on.
bool IniFindValue(std::wstring_view text, std::wstring_view section, std::wstring_view key,
                  std::wstring_view* value);

// GetPrivateProfileStringW's contract for one section and key: copies the value
// (quotes removed) or, when the file, section or key is missing, `defaultValue`
// (trailing blanks removed) into `out`, cut to size - 1 characters and always
// terminated. Returns the number of characters copied; with size 0 nothing is
// written. A null section or key counts as missing.
uint32_t IniReadString(const std::filesystem::path& file, const wchar_t* section, const wchar_t* key,
                       const wchar_t* defaultValue, wchar_t* out, uint32_t size);
