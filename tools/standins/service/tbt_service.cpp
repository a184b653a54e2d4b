// Stand-in for ThunderboltService: a real service program that the service
// control manager starts. It records each start and stop, one line each, in
// the file named by its first argument (default C:\tbtsim\service.log), so a
// test can tell whether the product asked for the start. While it runs it
// performs the provider's firmware writes (sim_writer.h).
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/standins/provider/sim_hold.h"
#include "tools/standins/service/sim_writer.h"

namespace {

wchar_t g_serviceName[] = L"ThunderboltService";
std::wstring g_recordPath = L"C:\\tbtsim\\service.log";
SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_stopEvent = nullptr;

void Record(const char* what) {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  char line[160];
  int n = snprintf(line, sizeof line, "%s pid=%lu time=%02u:%02u:%02u.%03u\n", what,
                   static_cast<unsigned long>(GetCurrentProcessId()), now.wHour, now.wMinute, now.wSecond,
                   now.wMilliseconds);
  HANDLE file = CreateFileW(g_recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD done = 0;
  WriteFile(file, line, static_cast<DWORD>(n), &done, nullptr);
  CloseHandle(file);
}

void Report(DWORD state, DWORD exitCode = NO_ERROR) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  status.dwWin32ExitCode = exitCode;
  status.dwWaitHint = state == SERVICE_START_PENDING ? 2000 : 0;
  SetServiceStatus(g_statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING);
      SetEvent(g_stopEvent);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

DWORD WINAPI WriterThread(void* pipe) {
  SimWriterServe(pipe, g_stopEvent);
  return 0;
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
  g_statusHandle = RegisterServiceCtrlHandlerExW(g_serviceName, Handler, nullptr);
  if (!g_statusHandle) return;
  g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_START_PENDING);
  Record("started");
  HANDLE pipe = SimWriterOpen(SimWriterPipeName());
  HANDLE writer = nullptr;
  if (pipe == INVALID_HANDLE_VALUE) {
    Record("writer: pipe not created");
  } else {
    writer = CreateThread(nullptr, 0, WriterThread, pipe, 0, nullptr);
    if (!writer) Record("writer: thread not started");
  }
  // A slow start: start-pending until a test holding this step lets it go on.
  SimHoldPoint(g_recordPath.substr(0, g_recordPath.find_last_of(L'\\')), "ServiceStart", "service",
               "pid=" + std::to_string(GetCurrentProcessId()));
  Report(SERVICE_RUNNING);
  WaitForSingleObject(g_stopEvent, INFINITE);
  // A write under way ends first: a stop never cuts one short.
  if (writer) {
    WaitForSingleObject(writer, INFINITE);
    CloseHandle(writer);
  }
  if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  Record("stopped");
  CloseHandle(g_stopEvent);
  Report(SERVICE_STOPPED);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && argv[1][0] != L'\0') g_recordPath = argv[1];
  SERVICE_TABLE_ENTRYW table[] = {{g_serviceName, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    // Started by hand rather than by the service manager.
    fprintf(stderr, "tbtsim_service: not started as a service (error %lu)\n",
            static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  return 0;
}
