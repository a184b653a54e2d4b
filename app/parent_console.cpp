#include "app/parent_console.h"

#include <windows.h>

#include "app/run_log.h"
#include "update/utf8.h"

namespace {

bool WriteUtf8(HANDLE h, const std::wstring& text) {
  const std::string bytes = Utf8(text);
  DWORD written = 0;
  return !bytes.empty() &&
         ::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

bool WriteConsole(HANDLE h, const std::wstring& text) {
  DWORD written = 0;
  return ::WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != FALSE;
}

}  // namespace

bool WriteLinesToParentConsole(const std::vector<std::wstring>& lines) {
  std::wstring text;
  for (const std::wstring& line : lines) text += EscapeControls(line) + L"\r\n";
  // Standard output handed down (redirected to a file or a pipe, or a
  // console): text in any language as UTF-8, or as characters to a console.
  HANDLE hOut = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (hOut && hOut != INVALID_HANDLE_VALUE && ::GetFileType(hOut) != FILE_TYPE_UNKNOWN) {
    DWORD mode = 0;
    if (::GetConsoleMode(hOut, &mode)) return WriteConsole(hOut, text);
    return WriteUtf8(hOut, text);
  }
  if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return false;
  HANDLE hConsole = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (hConsole == INVALID_HANDLE_VALUE) return false;
  const bool ok = WriteConsole(hConsole, text);
  ::CloseHandle(hConsole);
  return ok;
}
