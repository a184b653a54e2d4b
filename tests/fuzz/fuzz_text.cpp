// Feeds arbitrary Update.ini bytes to the text lookup and the result line, the
// way the window and a silent run's console line read them. Input: u16
// language id, u8 key choice, u16 buffer size, u8 status choice (+ u32 raw
// status when its top bit is set), then the file's bytes (the rest).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <memory>
#include <string>

#include "app/status.h"
#include "ui/ini_reader.h"
#include "ui/localized_text.h"
#include "ui/result_text.h"

#define FUZZ_ASSERT(cond)          \
  do {                             \
    if (!(cond)) __builtin_trap(); \
  } while (0)

namespace {

const wchar_t* const kKeys[] = {
    L"IDS_UPDATE",
    L"IDS_EXIT",
    L"IDS_PROMPT",
    L"IDS_CAUTION",
    L"IDS_SHUTDOWN",
    L"IDS_SHUTDOWN_LATER",
    L"IDS_FIND_NO_QMX",
    L"IDS_SUCCESS",
    L"IDS_FIND_NO_SW",
    L"IDS_DOWNGRADE",
    L"IDS_ERROR",
    L"IDS_BUSY",
    L"IDS_CHECK_ONLY_OK",
    L"IDS_BATTERY_UNATTENDED",
    L"Language",
    L"0x409",
    L"",
};
constexpr size_t kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

const TbtStatus kStatuses[] = {STATUS_OK,
                               ERR_ACPI_DEVICE_MISSING,
                               ERR_PROVIDER_FAILED,
                               ERR_IMAGE_MISMATCH,
                               ERR_DOWNGRADE_REFUSED,
                               ERR_ON_BATTERY,
                               1223,
                               0x80041001,
                               0xFFFFFFFF};
constexpr size_t kStatusCount = sizeof(kStatuses) / sizeof(kStatuses[0]);

// One file for the whole process, rewritten for every input.
const std::filesystem::path& IniFile() {
  static const std::filesystem::path file = [] {
    char dir[] = "/tmp/tbt-fuzz-text-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    return std::filesystem::path(dir) / "Update.ini";
  }();
  return file;
}

void WriteFile(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(IniFile().c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

// An exact-size buffer, so that any write past `size` is caught by the sanitizer;
// `size` 0 gets no storage at all.
std::unique_ptr<wchar_t[]> Buffer(uint32_t size) {
  std::unique_ptr<wchar_t[]> out(new wchar_t[size ? size : 1]);
  for (uint32_t i = 0; i < size; ++i) out[i] = L'#';
  return out;
}

bool Terminated(const wchar_t* out, uint32_t size) {
  return size > 0 && wcsnlen(out, size) < size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  const uint16_t langId = static_cast<uint16_t>(data[0] | data[1] << 8);
  const wchar_t* key = kKeys[data[2] % kKeyCount];
  const uint32_t outSize = static_cast<uint32_t>(data[3] | data[4] << 8) % 600;
  TbtStatus status = kStatuses[data[5] % kStatusCount];
  data += 6;
  size -= 6;
  if (size >= 4 && (data[-1] & 0x80)) {
    std::memcpy(&status, data, 4);
    data += 4;
    size -= 4;
  }
  WriteFile(data, size);
  const std::wstring text = IniDecodeText(data, size);

  // A text found is the file's own: a cut of a value that stands in the file.
  auto lookup = Buffer(outSize);
  LoadLocalizedStringFrom(IniFile(), langId, key, lookup.get(), outSize);
  if (outSize > 0) {
    FUZZ_ASSERT(Terminated(lookup.get(), outSize));
    FUZZ_ASSERT(text.find(lookup.get()) != std::wstring::npos);
  }

  // The result line: terminated within its buffer, and either the status's
  // own text as looked up or, for codes shown with their value and for a text
  // the file lacks, IDS_ERROR with the code always whole at the end.
  auto line = Buffer(outSize);
  UpdateResultTextFrom(IniFile(), status, langId, line.get(), outSize);
  if (outSize == 0) return 0;
  FUZZ_ASSERT(Terminated(line.get(), outSize));
  const StatusText shown = StatusTextFor(status);
  const std::wstring result = line.get();
  if (!shown.withCode) {
    auto plain = Buffer(outSize);
    LoadLocalizedStringFrom(IniFile(), langId, shown.key, plain.get(), outSize);
    if (plain[0] != L'\0' || status == STATUS_OK) {
      FUZZ_ASSERT(result == plain.get());
      return 0;
    }
  }
  if (outSize <= 13) {
    FUZZ_ASSERT(result.empty());
    return 0;
  }
  wchar_t code[16];
  std::swprintf(code, 16, L" (0X%08X)", static_cast<unsigned>(status));
  FUZZ_ASSERT(result.size() >= 13 && result.compare(result.size() - 13, 13, code) == 0);
  auto full = Buffer(256);
  LoadLocalizedStringFrom(IniFile(), langId, L"IDS_ERROR", full.get(), 256);
  FUZZ_ASSERT(std::wstring(full.get()).compare(0, result.size() - 13, result, 0, result.size() - 13) == 0);
  return 0;
}
