#include "controller/tbt_service.h"

#include <windows.h>

void StartTbtService(const wchar_t* serviceName) {
  if (!serviceName) return;
  SC_HANDLE hManager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!hManager) return;
  SC_HANDLE hService = OpenServiceW(hManager, serviceName, SERVICE_ALL_ACCESS);
  if (hService) {
    // A service that already runs refuses the start; that is all it needs.
    StartServiceW(hService, 0, nullptr);
    CloseServiceHandle(hService);
  }
  CloseServiceHandle(hManager);
}
