#include "controller/tbt_service.h"

#include <windows.h>

void StartTbtService(const wchar_t* serviceName) {
  if (!serviceName) return;
  // Only the rights the start needs, so a caller that holds just those succeeds.
  SC_HANDLE hManager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!hManager) return;
  SC_HANDLE hService = OpenServiceW(hManager, serviceName, SERVICE_START | SERVICE_QUERY_STATUS);
  if (hService) {
    // A service that already runs refuses the start; that is all it needs.
    StartServiceW(hService, 0, nullptr);
    CloseServiceHandle(hService);
  }
  CloseServiceHandle(hManager);
}
