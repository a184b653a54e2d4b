// Every text the user sees comes from data\Update.ini beside the executable:
// section "Language" maps "0x%X" language keys to the sections that hold the
// IDS_ texts of that language, and "0x409" is the fallback.
#pragma once

#include <cstdint>
#include <filesystem>

// Copies the text `key` for the UI language `langId` into `out` (capacity `size`
// characters, terminator included). `out` holds the empty string when no text
// is found; a null `key` or `out` leaves everything untouched. Reads the file
// anew on every call.
void LoadLocalizedString(uint16_t langId, const wchar_t* key, wchar_t* out, uint32_t size);

// The same, for a text added after Update.ini files were shipped: `fallback`
// (English) when the file holds no such text for the language.
void LoadLocalizedStringOr(uint16_t langId, const wchar_t* key, const wchar_t* fallback, wchar_t* out,
                           uint32_t size);

// The same lookup in a given file; LoadLocalizedString passes LocalizedTextFile().
void LoadLocalizedStringFrom(const std::filesystem::path& iniFile, uint16_t langId, const wchar_t* key,
                             wchar_t* out, uint32_t size);

// One profile read as the lookup makes it: the platform's reader on Windows,
// ours (ui/ini_reader.h) elsewhere and for paths too long for the platform's;
// the empty string is the default.
uint32_t ReadLocalizedProfileString(const std::filesystem::path& file, const wchar_t* section,
                                    const wchar_t* key, wchar_t* out, uint32_t size);

// data\Update.ini in the folder of the running executable, or an empty path
// when the executable's own path cannot be had.
std::filesystem::path LocalizedTextFile();

// The language whose "0x%X" key is looked up first: Chinese keeps its
// traditional/simplified distinction, Portuguese keeps Brazil apart from
// Portugal, every other language is reduced to its primary language.
uint16_t MapTextLanguage(uint16_t langId);
