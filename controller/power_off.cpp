#include "controller/power_off.h"

namespace {

// Enables the shutdown privilege in the process token; ExitWindowsEx refuses
// a power-off without it.
void EnableShutdownPrivilege() {
  TOKEN_PRIVILEGES privileges = {};
  if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return;
  HANDLE hToken = nullptr;
  // Adjusting one privilege needs no more than these two rights.
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken)) return;
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  AdjustTokenPrivileges(hToken, FALSE, &privileges, 0, nullptr, nullptr);
  CloseHandle(hToken);
}

}  // namespace

void PowerOffMachine(HWND hwndDialog) {
  EnableShutdownPrivilege();
  ExitWindowsEx(EWX_POWEROFF, 0);
  PostMessageW(hwndDialog, WM_CLOSE, 0, 0);
}
