#include "ui/result_text.h"

#include <algorithm>
#include <cwchar>

#include "ui/localized_text.h"

namespace {
constexpr uint32_t kResultChars = 256;
// " (0X%08X)"
constexpr size_t kCodeChars = 13;
}  // namespace

void UpdateResultTextFrom(const std::filesystem::path& iniFile, TbtStatus status, uint16_t langId,
                          wchar_t* out, uint32_t size) {
  if (!out || size == 0) return;
  out[0] = L'\0';
  const StatusText text = StatusTextFor(status);
  if (!text.withCode) {
    LoadLocalizedStringFrom(iniFile, langId, text.key, out, size);
    // An Update.ini older than the key: the code at least says what happened.
    if (out[0] != L'\0' || status == STATUS_OK) return;
  }
  wchar_t szText[kResultChars] = L"";
  LoadLocalizedStringFrom(iniFile, langId, L"IDS_ERROR", szText, kResultChars);
  // The text gives way so that the code always fits.
  if (size <= kCodeChars) return;
  const size_t nRoom = size - 1 - kCodeChars;
  const size_t nKeep = std::min(std::wcslen(szText), nRoom);
  std::swprintf(out, size, L"%.*ls (0X%08X)", static_cast<int>(nKeep), szText, static_cast<unsigned>(status));
}

void UpdateResultText(TbtStatus status, uint16_t langId, wchar_t* out, uint32_t size) {
  UpdateResultTextFrom(LocalizedTextFile(), status, langId, out, size);
}
