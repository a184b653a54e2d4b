// The product itself, started as its own process beside its data: the
// options reach the window, the window is the layered captionless dialog, and
// the exit code reports the outcome of the update attempt. Under Wine there is
// no ACPI control device, which is the one outcome reachable without stand-ins.
#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "app/status.h"
#include "res/resource.h"
#include "ui/localized_text.h"
#include "controller/power_source.h"

namespace {

std::wstring g_productExe;  // beside this test program
// This program started with it before a command line runs that line as its
// child without a console to reach, as a service would, and ends with the
// child's exit code.
const wchar_t kStartWithoutConsole[] = L"--start-without-console";
const wchar_t kTitle[] = L"Vorn Thunderbolt Firmware Update Tool";

std::wstring ExeDir() {
  wchar_t path[1024];
  const DWORD n = ::GetModuleFileNameW(nullptr, path, 1024);
  std::wstring dir(path, n);
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

std::wstring TextOf(HWND hWnd) {
  wchar_t sz[600] = L"";
  ::GetWindowTextW(hWnd, sz, 600);  // WM_GETTEXT across processes
  return sz;
}

std::wstring ProductText(uint16_t langId, const wchar_t* key) {
  wchar_t sz[512] = L"";
  LoadLocalizedStringFrom(ExeDir() + L"..\\data\\Update.ini", langId, key, sz, 512);
  return sz;
}

// Waits for `predicate` for up to `ms` milliseconds.
template <typename Pred>
bool WaitFor(Pred predicate, DWORD ms) {
  const DWORD start = ::GetTickCount();
  while (!predicate()) {
    if (::GetTickCount() - start > ms) return false;
    ::Sleep(20);
  }
  return true;
}

class ProductRun {
 public:
  // `hOutput`: the standard output handed down (null: none); `pszDesktop`:
  // "station\\desktop" to start in (null: this program's); `bNoConsole`: no
  // console to write to, not even this program's.
  explicit ProductRun(const std::wstring& args, HANDLE hOutput = nullptr, const wchar_t* pszDesktop = nullptr,
                      bool bNoConsole = false) {
    std::wstring command = L"\"" + g_productExe + L"\" " + args;
    std::wstring exe = g_productExe;
    if (bNoConsole) {
      wchar_t self[1024];
      const DWORD n = ::GetModuleFileNameW(nullptr, self, 1024);
      exe.assign(self, n);
      command = L"\"" + exe + L"\" " + kStartWithoutConsole + L" " + command;
    }
    std::wstring desktop = pszDesktop ? pszDesktop : L"";
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    if (pszDesktop) si.lpDesktop = &desktop[0];
    if (hOutput) {
      si.dwFlags = STARTF_USESTDHANDLES;
      si.hStdOutput = si.hStdError = hOutput;
    }
    m_started = ::CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, hOutput != nullptr,
                                 bNoConsole ? DETACHED_PROCESS : 0, nullptr, nullptr, &si, &m_pi) != FALSE;
  }
  ~ProductRun() {
    if (!m_started) return;
    if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) ::TerminateProcess(m_pi.hProcess, 99);
    ::CloseHandle(m_pi.hThread);
    ::CloseHandle(m_pi.hProcess);
  }
  // The product's dialog, once it is up.
  HWND Window() {
    HWND hWnd = nullptr;
    WaitFor(
        [&] {
          hWnd = ::FindWindowW(nullptr, kTitle);
          return hWnd && ::IsWindowVisible(hWnd);
        },
        20000);
    return hWnd;
  }
  // The exit code, once the process has ended.
  DWORD ExitCode() {
    if (::WaitForSingleObject(m_pi.hProcess, 20000) != WAIT_OBJECT_0) return 0xDEADDEAD;
    DWORD code = 0;
    ::GetExitCodeProcess(m_pi.hProcess, &code);
    return code;
  }
  bool m_started = false;
  PROCESS_INFORMATION m_pi{};
};

std::string ReadAll(const std::wstring& path) {
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string text(::GetFileSize(h, nullptr), '\0');
  DWORD read = 0;
  if (!text.empty()) ::ReadFile(h, &text[0], static_cast<DWORD>(text.size()), &read, nullptr);
  ::CloseHandle(h);
  return text.substr(0, read);
}

TEST(ProductTest, ClosedBeforeAnyAttemptExitsCancelled) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring log = std::wstring(temp) + L"tbt-closed.log";
  ::DeleteFileW(log.c_str());
  ProductRun run(L"/l=" + log);
  ASSERT_TRUE(run.m_started);
  HWND hWnd = run.Window();
  ASSERT_TRUE(hWnd);
  EXPECT_FALSE(::GetWindowLongW(hWnd, GWL_STYLE) & WS_CAPTION);
  EXPECT_TRUE(::GetWindowLongW(hWnd, GWL_STYLE) & WS_POPUP);
  EXPECT_TRUE(::GetWindowLongW(hWnd, GWL_EXSTYLE) & WS_EX_LAYERED);
  EXPECT_EQ(TextOf(::GetDlgItem(hWnd, IDC_VERSION)), L"V1.0.0.10");
  EXPECT_EQ(TextOf(::GetDlgItem(hWnd, IDC_MESSAGE)), ProductText(0x0409, L"IDS_PROMPT"));
  ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
  EXPECT_EQ(run.ExitCode(), static_cast<DWORD>(ERROR_CANCELLED));
  // The window's own code, named as such: no provider was ever asked.
  EXPECT_NE(ReadAll(log).find("] result: 0x000004C7 ERROR_CANCELLED\r\n"), std::string::npos) << ReadAll(log);
  ::DeleteFileW(log.c_str());
}

TEST(ProductTest, LanguageOptionSelectsTheTexts) {
  ProductRun run(L"/lid:0X411 /DOWNGRADABLE");
  ASSERT_TRUE(run.m_started);
  HWND hWnd = run.Window();
  ASSERT_TRUE(hWnd);
  const std::wstring japanese = ProductText(0x0411, L"IDS_PROMPT");
  ASSERT_NE(japanese, ProductText(0x0409, L"IDS_PROMPT"));
  EXPECT_EQ(TextOf(::GetDlgItem(hWnd, IDC_MESSAGE)), japanese);
  EXPECT_EQ(TextOf(::GetDlgItem(hWnd, IDC_UPDATE)), ProductText(0x0411, L"IDS_UPDATE"));
  // Exit is hidden before any attempt; the close cross ends the run.
  ::PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  EXPECT_EQ(run.ExitCode(), static_cast<DWORD>(ERROR_CANCELLED));
}

TEST(ProductTest, MissingDeviceIsReportedAndBecomesTheExitCode) {
  ProductRun run(L"");
  ASSERT_TRUE(run.m_started);
  HWND hWnd = run.Window();
  ASSERT_TRUE(hWnd);
  HWND hUpdate = ::GetDlgItem(hWnd, IDC_UPDATE);
  ::PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDC_UPDATE, BN_CLICKED), reinterpret_cast<LPARAM>(hUpdate));
  HWND hExit = ::GetDlgItem(hWnd, IDOK);
  EXPECT_TRUE(WaitFor(
      [&] { return ::IsWindowVisible(hExit) && ::IsWindowEnabled(::GetDlgItem(hWnd, IDCANCEL)); }, 20000));
  EXPECT_FALSE(::IsWindowVisible(hUpdate));
  EXPECT_EQ(TextOf(::GetDlgItem(hWnd, IDC_MESSAGE)), ProductText(0x0409, L"IDS_FIND_NO_QMX"));
  ::PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);  // Exit
  EXPECT_EQ(run.ExitCode(), ERR_ACPI_DEVICE_MISSING);
}

// Without a window: the outcome is the exit code, one line goes to whoever
// started the program, and the log tells the steps. Under Wine there is no
// ACPI device, so a silent run ends at its first check, and no window is
// ever shown.
TEST(ProductTest, SilentRunsAndHelpWriteToTheirStarterAndKeepNoWindow) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring out = std::wstring(temp) + L"tbt-app-out.txt";
  const std::wstring log = std::wstring(temp) + L"tbt app log.txt";
  const std::wstring other = std::wstring(temp) + L"tbt app other.txt";
  const struct {
    std::wstring args;
    DWORD exitCode;
    std::string firstLine;  // of what the starter reads
    bool logged;
    int logLink = 0;  // the log's name is 1: a hard link, 2: a symbolic link to another file
  } cases[] = {
      {L"/s /l=\"" + log + L"\"", ERR_ACPI_DEVICE_MISSING, "0x10430001 ERR_ACPI_DEVICE_MISSING ", true},
      {L"/C /downgradable", ERR_ACPI_DEVICE_MISSING, "0x10430001 ERR_ACPI_DEVICE_MISSING ", false},
      {L"/?", 1639, "TbtFwUpdate [/s | /c] [/l=PATH]", false},
      {L"/s /? /l=\"" + log + L"\"", 1639, "TbtFwUpdate [/s | /c] [/l=PATH]", false},
      // The runtime reads \" as a quote: /c lands inside the log's path.
      {L"/s /l=\"" + log + L"\\\" /c", 1639, "0x00000667 ERROR_INVALID_COMMAND_LINE ", false},
      {L"/s /check /l=\"" + log + L"\"", 1639, "0x00000667 ERROR_INVALID_COMMAND_LINE ", false},
      {L"/s /l=\"" + log + L"\"", ERR_ACPI_DEVICE_MISSING, "0x10430001 ", false, 1},
      {L"/s /l=\"" + log + L"\"", ERR_ACPI_DEVICE_MISSING, "0x10430001 ", false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.args.begin(), c.args.end()) + " link " + std::to_string(c.logLink));
    ::DeleteFileW(out.c_str());
    ::DeleteFileW(log.c_str());
    ::DeleteFileW(other.c_str());
    if (c.logLink) {
      HANDLE h = ::CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      ASSERT_NE(h, INVALID_HANDLE_VALUE);
      ::CloseHandle(h);
      if (c.logLink == 1) {
        ASSERT_TRUE(::CreateHardLinkW(log.c_str(), other.c_str(), nullptr));
      } else if (!::CreateSymbolicLinkW(log.c_str(), other.c_str(), 0) ||
                 !(::GetFileAttributesW(log.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) ||
                 ::GetFileAttributesW(log.c_str()) == INVALID_FILE_ATTRIBUTES) {
        // Wine 8 reports success and makes no link, and shows a link made by
        // the host as the file it points to: only Windows can show this one.
        continue;
      }
    }
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE hOut =
        ::CreateFileW(out.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(hOut, INVALID_HANDLE_VALUE);
    DWORD pid = 0;
    {
      ProductRun run(c.args, hOut);
      ASSERT_TRUE(run.m_started);
      pid = run.m_pi.dwProcessId;
      EXPECT_EQ(run.ExitCode(), c.exitCode);
      EXPECT_EQ(::FindWindowW(nullptr, kTitle), nullptr);
    }
    ::CloseHandle(hOut);
    EXPECT_EQ(ReadAll(out).substr(0, c.firstLine.size()), c.firstLine);
    const std::string logText = ReadAll(log) + ReadAll(other);
    EXPECT_EQ(logText.find("started; options: /s /l=") != std::string::npos, c.logged) << logText;
    // Each line: time, process id, event.
    EXPECT_EQ(logText.find("Z [" + std::to_string(pid) +
                           "] result: 0x10430001 ERR_ACPI_DEVICE_MISSING\r\n") != std::string::npos,
              c.logged)
        << logText;
    EXPECT_EQ(logText.find("STATUS_OK"), std::string::npos) << logText;
  }
  ::DeleteFileW(other.c_str());
  ::DeleteFileW(out.c_str());
  ::DeleteFileW(log.c_str());
}

// Started without /s in a window station nobody sees (as a service or a
// scheduled task would start it): no window and no message box that waits for
// ever, no device. The second row has a system library that cannot be loaded.
TEST(ProductTest, AWindowNobodyCanSeeEndsAtOnce) {
  HWINSTA hOwn = ::GetProcessWindowStation();
  HWINSTA hHidden = ::CreateWindowStationW(L"TbtTestHidden", 0, WINSTA_ALL_ACCESS, nullptr);
  ASSERT_NE(hHidden, nullptr);
  USEROBJECTFLAGS flags{};
  ASSERT_TRUE(::GetUserObjectInformationW(hHidden, UOI_FLAGS, &flags, sizeof(flags), nullptr));
  ASSERT_EQ(flags.dwFlags & WSF_VISIBLE, 0u) << "a new window station is not the interactive one";
  ASSERT_TRUE(::SetProcessWindowStation(hHidden));
  HDESK hDesk = ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  ::SetProcessWindowStation(hOwn);
  ASSERT_NE(hDesk, nullptr);

  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  const std::wstring log = std::wstring(temp) + L"tbt-hidden.log";
  // Wine's per-program settings: the library refused for the product alone.
  const wchar_t kWineOverrides[] = L"Software\\Wine\\AppDefaults\\TbtFwUpdate.exe\\DllOverrides";
  const struct {
    const wchar_t* refusedDll;
    DWORD exitCode;
    const char* said;
    const char* result;
  } cases[] = {
      {nullptr, ERR_NOT_INTERACTIVE, "window station not interactive",
       "result: 0x1043000F ERR_NOT_INTERACTIVE"},
      {L"bcrypt", ERROR_MOD_NOT_FOUND, "could not be loaded from the system folder: bcrypt.dll",
       "result: 0x0000007E ERROR_MOD_NOT_FOUND"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.said);
    if (c.refusedDll) {
      if (!::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "only Wine can be told to refuse a system library";
      ASSERT_EQ(
          ::RegSetKeyValueW(HKEY_CURRENT_USER, kWineOverrides, c.refusedDll, REG_SZ, L"", sizeof(wchar_t)),
          ERROR_SUCCESS);
    }
    ::DeleteFileW(log.c_str());
    {
      ProductRun run(L"/l=\"" + log + L"\"", nullptr, L"TbtTestHidden\\Default", true);
      EXPECT_TRUE(run.m_started);
      if (run.m_started) EXPECT_EQ(run.ExitCode(), c.exitCode);
    }
    if (c.refusedDll) ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kWineOverrides, c.refusedDll);
    const std::string logText = ReadAll(log);
    EXPECT_NE(logText.find(c.said), std::string::npos) << logText;
    EXPECT_NE(logText.find(c.result), std::string::npos) << logText;
    EXPECT_EQ(logText.find("ACPI"), std::string::npos) << "the device was never opened";
  }
  ::DeleteFileW(log.c_str());
  ::CloseDesktop(hDesk);
  ::CloseWindowStation(hHidden);
}

// The product's own battery query, on a host that reports mains power (Wine
// passes the host's AC state through; a notebook on battery would differ).
TEST(ProductTest, BatteryQueryReadsTheAcLineState) {
  SYSTEM_POWER_STATUS status{};
  ASSERT_TRUE(::GetSystemPowerStatus(&status));
  EXPECT_EQ(PowerRunsOnBattery(), status.ACLineStatus == 0);
}

}  // namespace

// The child ends with this program (a message box nobody answers included).
int StartWithoutConsole(const wchar_t* pszCommand) {
  std::wstring command = pszCommand;
  command.erase(0, command.find_first_not_of(L' '));
  HANDLE hJob = ::CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (!hJob || !::SetInformationJobObject(hJob, JobObjectExtendedLimitInformation, &limits, sizeof(limits)))
    return 0xDEAD0001;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi{};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                        &si, &pi))
    return 0xDEAD0002;
  ::AssignProcessToJobObject(hJob, pi.hProcess);
  ::ResumeThread(pi.hThread);
  ::WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0xDEAD0003;
  ::GetExitCodeProcess(pi.hProcess, &code);
  return static_cast<int>(code);
}

int main(int argc, char** argv) {
  if (const wchar_t* pszAt = std::wcsstr(::GetCommandLineW(), kStartWithoutConsole))
    return StartWithoutConsole(pszAt + std::wcslen(kStartWithoutConsole));
  ::testing::InitGoogleTest(&argc, argv);
  g_productExe = ExeDir() + L"..\\TbtFwUpdate.exe";
  return RUN_ALL_TESTS();
}
