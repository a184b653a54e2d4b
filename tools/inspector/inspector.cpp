// A console helper that looks at and drives the product's window from another
// process in the same Wine prefix, for end-to-end tests and the demo.
//
//   inspector launch <record> <exe> [args...]  start the program; record every change of its
//                                              controls, its peak memory and its exit code
//   inspector wait-window [timeout-ms]         wait until the program's window is shown
//   inspector wait [--any] [--timeout ms] [--settle ms] <id>:<visible|hidden|enabled|disabled|active>...
//                                              (--settle: and then no control changes for that long)
//   inspector state                            one line per control: id, visibility, enabled, text
//   inspector point <id>                       centre of a control on the screen: "x y"
//   inspector click <id>                       press a button (BM_CLICK)
//   inspector post <id>                        send the window the command of control <id>
//                                              (WM_COMMAND, BN_CLICKED), as another program can
//   inspector close                            ask the window to close (WM_CLOSE)
//   inspector ini <ini> <langid-hex> <key>     a text of Update.ini for a language
//   inspector session query|end [lparam-hex]   send the program's window (the dialog, or a
//                                              silent run's hidden one) WM_QUERYENDSESSION
//                                              (prints its answer) or WM_ENDSESSION TRUE, as
//                                              Windows does at a log-off or shutdown
//   inspector squat <ms> [mutex|event|semaphore]
//                                              take the update lock's name first, as that
//                                              object (a mutex unless named), with a DACL
//                                              that grants nobody anything, for <ms>
//
// The program is found by its image name, TbtFwUpdate.exe unless %INSPECT_EXE%
// names another, or by its process id when %INSPECT_PID% gives one (several
// copies of the program may run side by side). Texts are printed in UTF-8. Exit codes: 0 done, 1 condition
// not met in time, 2 no window, 3 usage.
#include <windows.h>
#include <psapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/inspector/inspector_core.h"

namespace {

constexpr int kMarkerId = 1004;  // the message label: every product window has it
constexpr DWORD kDefaultTimeoutMs = 30000;
constexpr DWORD kPollMs = 20;

void Out(const std::string& text) {
  DWORD done = 0;
  std::string line = text + "\n";
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
}

void Err(const std::string& text) {
  DWORD done = 0;
  std::string line = "inspector: " + text + "\n";
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
}

std::wstring ExeName() {
  wchar_t name[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableW(L"INSPECT_EXE", name, MAX_PATH);
  return (n > 0 && n < MAX_PATH) ? std::wstring(name, n) : std::wstring(L"TbtFwUpdate.exe");
}

DWORD ProductPid() {
  wchar_t pid[32] = {};
  DWORD n = GetEnvironmentVariableW(L"INSPECT_PID", pid, 32);
  return (n > 0 && n < 32) ? wcstoul(pid, nullptr, 10) : 0;
}

HWND FindProduct() {
  const DWORD pid = ProductPid();
  return InspectFindWindow(pid ? std::wstring() : ExeName(), pid, kMarkerId);
}

HWND WaitForWindow(DWORD timeoutMs) {
  ULONGLONG end = GetTickCount64() + timeoutMs;
  for (;;) {
    HWND hwnd = FindProduct();
    if (hwnd && IsWindowVisible(hwnd)) return hwnd;
    if (GetTickCount64() >= end) return nullptr;
    Sleep(kPollMs);
  }
}

void PrintState(HWND hwnd, bool toError) {
  WindowState state = InspectReadWindow(hwnd, TextSource::kMessage);
  char header[256];
  snprintf(header, sizeof header, "window vis=%d x=%ld y=%ld w=%ld h=%ld title=", state.visible ? 1 : 0,
           state.rect.left, state.rect.top, state.rect.right - state.rect.left,
           state.rect.bottom - state.rect.top);
  auto emit = toError ? Err : Out;
  emit(header + WideToUtf8(state.title));
  for (const ControlState& c : state.controls) emit(InspectFormat(c));
}

double Milliseconds(const LARGE_INTEGER& start) {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(now.QuadPart - start.QuadPart) /
         static_cast<double>(frequency.QuadPart);
}

class RecordFile {
 public:
  explicit RecordFile(const std::wstring& path)
      : file_(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~RecordFile() {
    if (ok()) CloseHandle(file_);
  }
  bool ok() const { return file_ != INVALID_HANDLE_VALUE; }
  void Line(const std::string& text) {
    std::string line = text + "\n";
    DWORD done = 0;
    WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &done, nullptr);
  }

 private:
  HANDLE file_;
};

// The full image path of a process, however long.
std::wstring ImagePath(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return {};
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process, 0, &path[0], &size)) size = 0;
  CloseHandle(process);
  path.resize(size);
  return path;
}

std::vector<DWORD> ProcessIds() {
  std::vector<DWORD> ids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return ids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    ids.push_back(entry.th32ProcessID);
  CloseHandle(snapshot);
  return ids;
}

// A program whose path is MAX_PATH characters or longer: Wine's CreateProcessW
// cannot find it, and given such a folder as the current one it corrupts its
// own heap (glibc aborts). Wine's loader started from a Unix shell takes any
// path, so the program is started so and then found by its image path.
bool StartDeep(const std::vector<std::wstring>& command, PROCESS_INFORMATION& process) {
  using ToUnix = char*(CDECL*)(LPCWSTR);
  auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (!toUnix) return false;
  char* unixPath = toUnix(command[0].c_str());
  if (!unixPath) return false;
  const std::string utf8(unixPath);
  HeapFree(GetProcessHeap(), 0, unixPath);
  std::wstring unixWide(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0)),
                        L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &unixWide[0], static_cast<int>(unixWide.size()));
  unixWide.resize(unixWide.size() - 1);

  std::vector<std::wstring> shell = {L"Z:\\bin\\sh", L"-c", L"exec \"${WINELOADER:-wine}\" \"$0\" \"$@\"",
                                     unixWide};
  shell.insert(shell.end(), command.begin() + 1, command.end());
  std::wstring line = InspectJoinArgs(shell);
  const std::vector<DWORD> before = ProcessIds();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION unixProcess{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &unixProcess))
    return false;
  CloseHandle(unixProcess.hThread);
  CloseHandle(unixProcess.hProcess);  // a Unix process: nothing to wait on
  for (int waited = 0; waited < 30000; waited += 5) {
    for (DWORD pid : ProcessIds()) {
      if (std::find(before.begin(), before.end(), pid) != before.end()) continue;
      if (CompareStringOrdinal(ImagePath(pid).c_str(), -1, command[0].c_str(), -1, TRUE) != CSTR_EQUAL)
        continue;
      process.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
      process.dwProcessId = pid;
      return process.hProcess != nullptr;
    }
    Sleep(5);
  }
  return false;
}

int Launch(const std::wstring& recordPath, const std::vector<std::wstring>& command) {
  RecordFile record(recordPath);
  if (!record.ok()) {
    Err("cannot write the record file");
    return 3;
  }
  std::wstring line = InspectJoinArgs(command);
  std::wstring folder = command[0];
  size_t slash = folder.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  LARGE_INTEGER start;
  QueryPerformanceCounter(&start);
  const bool deep = command[0].size() >= MAX_PATH;
  if (deep ? !StartDeep(command, process)
           : !CreateProcessW(command[0].c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    record.Line("error=launch " + std::to_string(GetLastError()));
    Err("cannot start " + WideToUtf8(command[0]));
    return 3;
  }
  if (process.hThread) CloseHandle(process.hThread);
  record.Line("launched pid=" + std::to_string(process.dwProcessId) + " command=" + WideToUtf8(line));

  HWND hwnd = nullptr;
  std::vector<std::string> last;
  SIZE_T peakWorkingSet = 0, peakPagefile = 0;
  ULONGLONG nextSample = 0;
  char stamp[32];
  for (;;) {
    DWORD waited = WaitForSingleObject(process.hProcess, kPollMs);
    snprintf(stamp, sizeof stamp, "+%.0f ", Milliseconds(start));
    if (!hwnd) {
      hwnd = InspectFindWindow(L"", process.dwProcessId, kMarkerId);
      if (hwnd && !IsWindowVisible(hwnd)) hwnd = nullptr;
      if (hwnd) {
        RECT rect{};
        GetWindowRect(hwnd, &rect);
        char shown[128];
        snprintf(shown, sizeof shown, "window x=%ld y=%ld w=%ld h=%ld", rect.left, rect.top,
                 rect.right - rect.left, rect.bottom - rect.top);
        record.Line(stamp + std::string(shown));
      }
    }
    if (hwnd && IsWindow(hwnd)) {
      // The stored texts: never waits on the program's own busy loop.
      WindowState state = InspectReadWindow(hwnd, TextSource::kStored);
      if (last.size() != state.controls.size()) last.assign(state.controls.size(), std::string());
      for (size_t i = 0; i < state.controls.size(); ++i) {
        std::string now = InspectFormat(state.controls[i]);
        if (now != last[i]) record.Line(stamp + now);
        last[i] = now;
      }
    }
    if (GetTickCount64() >= nextSample || waited == WAIT_OBJECT_0) {
      PROCESS_MEMORY_COUNTERS counters{};
      counters.cb = sizeof counters;
      if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
        if (counters.PeakWorkingSetSize > peakWorkingSet) peakWorkingSet = counters.PeakWorkingSetSize;
        if (counters.PeakPagefileUsage > peakPagefile) peakPagefile = counters.PeakPagefileUsage;
      }
      nextSample = GetTickCount64() + 250;
    }
    if (waited != WAIT_TIMEOUT) break;
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  char summary[160];
  snprintf(summary, sizeof summary, "exit=0x%08lX after_ms=%.0f", static_cast<unsigned long>(exitCode),
           Milliseconds(start));
  record.Line(summary);
  snprintf(summary, sizeof summary, "peak_working_set=%lu peak_pagefile=%lu",
           static_cast<unsigned long>(peakWorkingSet), static_cast<unsigned long>(peakPagefile));
  record.Line(summary);
  return 0;
}

// Every control's state in one text, to tell whether anything changed.
std::string Snapshot(HWND hwnd) {
  std::string all;
  for (const ControlState& c : InspectReadWindow(hwnd, TextSource::kStored).controls)
    all += InspectFormat(c) + "\n";
  return all;
}

int Wait(const std::vector<std::wstring>& args) {
  bool any = false;
  DWORD timeoutMs = kDefaultTimeoutMs, settleMs = 0;
  std::vector<InspectCondition> conditions;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == L"--any") {
      any = true;
    } else if (args[i] == L"--timeout" && i + 1 < args.size()) {
      timeoutMs = wcstoul(args[++i].c_str(), nullptr, 10);
    } else if (args[i] == L"--settle" && i + 1 < args.size()) {
      settleMs = wcstoul(args[++i].c_str(), nullptr, 10);
    } else {
      InspectCondition condition;
      if (!InspectParseCondition(args[i], condition)) {
        Err("bad condition " + WideToUtf8(args[i]));
        return 3;
      }
      conditions.push_back(condition);
    }
  }
  if (conditions.empty()) return 3;
  ULONGLONG end = GetTickCount64() + timeoutMs;
  HWND hwnd = WaitForWindow(timeoutMs);
  if (!hwnd) {
    Err("no window");
    return 2;
  }
  // A handler changes several controls one after another: a state that
  // matches only counts once it has stayed unchanged for the settle time.
  std::string stable;
  ULONGLONG stableSince = 0;
  for (;;) {
    if (!IsWindow(hwnd)) {
      Err("the window is gone");
      return 2;
    }
    size_t met = 0;
    for (const InspectCondition& c : conditions) met += InspectConditionHolds(hwnd, c) ? 1 : 0;
    ULONGLONG now = GetTickCount64();
    if (any ? met > 0 : met == conditions.size()) {
      std::string snapshot = settleMs ? Snapshot(hwnd) : std::string();
      if (stableSince == 0 || snapshot != stable) {
        stable = snapshot;
        stableSince = now;
      }
      if (now - stableSince >= settleMs) return 0;
    } else {
      stableSince = 0;
    }
    if (now >= end) {
      Err("condition not met in time; the window shows:");
      PrintState(hwnd, true);
      return 1;
    }
    Sleep(kPollMs);
  }
}

int WithControl(const std::wstring& idText, bool click) {
  HWND hwnd = WaitForWindow(5000);
  if (!hwnd) {
    Err("no window");
    return 2;
  }
  HWND control = GetDlgItem(hwnd, _wtoi(idText.c_str()));
  if (!control) {
    Err("no control " + WideToUtf8(idText));
    return 2;
  }
  if (click) {
    PostMessageW(control, BM_CLICK, 0, 0);
    return 0;
  }
  RECT rect{};
  GetWindowRect(control, &rect);
  Out(std::to_string((rect.left + rect.right) / 2) + " " + std::to_string((rect.top + rect.bottom) / 2));
  return 0;
}

// The window Windows would send a session end to: the dialog, or the hidden
// window of a run without one (found by its class, in the program's process).
HWND FindSessionWindow() {
  if (HWND hwnd = FindProduct()) return hwnd;
  HWND hwnd = nullptr;
  while ((hwnd = FindWindowExW(nullptr, hwnd, L"TbtFwUpdateSessionGuard", nullptr)) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (!ProductPid() || pid == ProductPid()) return hwnd;
  }
  return nullptr;
}

int SendSession(const std::wstring& what, LPARAM lParam) {
  HWND hwnd = FindSessionWindow();
  if (!hwnd) {
    Err("no window");
    return 2;
  }
  DWORD_PTR answer = 0;
  if (what == L"query") {
    if (!SendMessageTimeoutW(hwnd, WM_QUERYENDSESSION, 0, lParam, SMTO_NORMAL, 10000, &answer)) return 1;
    Out(std::to_string(answer));
    return 0;
  }
  // The program may end while it answers.
  SendMessageTimeoutW(hwnd, WM_ENDSESSION, TRUE, lParam, SMTO_NORMAL, 70000, &answer);
  return 0;
}

// Takes the update lock's name first as a mutex, an event or a semaphore,
// each with a DACL that grants nobody anything.
int Squat(DWORD ms, const std::wstring& kind) {
  PSECURITY_DESCRIPTOR pSd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P", SDDL_REVISION_1, &pSd, nullptr)) return 2;
  SECURITY_ATTRIBUTES sa{sizeof(sa), pSd, FALSE};
  const wchar_t* pszName = L"Global\\TbtFwUpdate.OneUpdatePerMachine";
  HANDLE hObject = nullptr;
  if (kind == L"mutex") {
    hObject = CreateMutexW(&sa, FALSE, pszName);
  } else if (kind == L"event") {
    hObject = CreateEventW(&sa, TRUE, FALSE, pszName);
  } else if (kind == L"semaphore") {
    hObject = CreateSemaphoreW(&sa, 0, 1, pszName);
  } else {
    LocalFree(pSd);
    return 3;
  }
  const DWORD dwError = GetLastError();
  LocalFree(pSd);
  if (!hObject || dwError == ERROR_ALREADY_EXISTS) return 1;
  Out("holding");
  Sleep(ms);
  CloseHandle(hObject);
  return 0;
}

int Usage() {
  Err("usage: inspector launch <record> <exe> [args...] | wait-window [ms] | wait [--any] [--timeout ms] "
      "<id>:<state>... | state | point <id> | click <id> | post <id> | close | ini <ini> <langid-hex> <key> "
      "| "
      "session query|end [lparam-hex] | squat <ms> [mutex|event|semaphore]");
  return 3;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::wstring command = args[0];
  args.erase(args.begin());

  if (command == L"launch" && args.size() >= 2) {
    return Launch(args[0], std::vector<std::wstring>(args.begin() + 1, args.end()));
  }
  if (command == L"wait-window") {
    return WaitForWindow(args.empty() ? kDefaultTimeoutMs : wcstoul(args[0].c_str(), nullptr, 10)) ? 0 : 1;
  }
  if (command == L"wait") return Wait(args);
  if (command == L"state") {
    HWND hwnd = FindProduct();
    if (!hwnd) {
      Err("no window");
      return 2;
    }
    PrintState(hwnd, false);
    return 0;
  }
  if ((command == L"point" || command == L"click") && args.size() == 1) {
    return WithControl(args[0], command == L"click");
  }
  if (command == L"post" && args.size() == 1) {
    HWND hwnd = FindProduct();
    if (!hwnd) return 2;
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(_wtoi(args[0].c_str()), BN_CLICKED), 0);
    return 0;
  }
  if (command == L"close") {
    HWND hwnd = FindProduct();
    if (!hwnd) return 2;
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    return 0;
  }
  if (command == L"ini" && args.size() == 3) {
    Out(WideToUtf8(
        InspectIniText(args[0], static_cast<uint16_t>(wcstoul(args[1].c_str(), nullptr, 16)), args[2])));
    return 0;
  }
  if (command == L"session" && !args.empty()) {
    return SendSession(args[0],
                       args.size() > 1 ? static_cast<LPARAM>(wcstoul(args[1].c_str(), nullptr, 16)) : 0);
  }
  if (command == L"squat" && (args.size() == 1 || args.size() == 2))
    return Squat(wcstoul(args[0].c_str(), nullptr, 10), args.size() == 2 ? args[1] : L"mutex");
  return Usage();
}
