#include "app/update_app.h"

#include <gdiplus.h>
#include <shellapi.h>
#include <stdlib.h>

#include <cwchar>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "app/options.h"
#include "app/parent_console.h"
#include "app/run_log.h"
#include "app/run_log_file.h"
#include "app/system_dlls.h"
#include "ui/layout.h"
#include "ui/localized_text.h"
#include "ui/update_dlg.h"
#include "update/session_guard.h"
#include "update/update_run.h"
#include "update/utf8.h"

// The one application object. GDI+ is started by InitInstance once the
// libraries are known to come from System32, never by a static constructor;
// at exit it shuts down before the application object is destroyed.
CUpdateApp theApp;

namespace {

// What support needs to read a log: a 32-bit program on 64-bit Windows meets
// registry and file-system redirection that a 64-bit one does not.
const char* ProcessKindForLog() {
  if (sizeof(void*) == 8) return "64-bit";
  BOOL bWow64 = FALSE;
  if (!::IsWow64Process(::GetCurrentProcess(), &bWow64)) return "32-bit (WoW64 unknown)";
  return bWow64 ? "32-bit on 64-bit Windows (WoW64)" : "32-bit on 32-bit Windows";
}

// GDI+ runs from before the dialog exists until after it has been destroyed.
class GdiplusSession {
 public:
  GdiplusSession() : m_bRunning(0) {}
  bool Start() {
    if (!m_bRunning) {
      Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread on
      m_bRunning = Gdiplus::GdiplusStartup(&m_token, &input, nullptr) == Gdiplus::Ok ? 1 : 0;
    }
    return m_bRunning != 0;
  }
  ~GdiplusSession() { Shutdown(); }
  void Shutdown() {
    if (!m_bRunning) return;
    m_bRunning = 0;
    Gdiplus::GdiplusShutdown(m_token);
  }

 private:
  ULONG_PTR m_token = 0;
  unsigned m_bRunning : 1;  // shut down once only
};

GdiplusSession g_gdiplus;

}  // namespace

namespace {

// The arguments after the program's name, as given.
std::wstring JoinArguments(int argc, const wchar_t* const* argv) {
  std::wstring text;
  for (int i = 1; i < argc && argv; ++i) {
    if (i > 1) text += L' ';
    text += argv[i] ? argv[i] : L"";
  }
  return text;
}

// The one console line a run without a window ends with: the status, its
// name and the text in the run's language (English when Update.ini has none).
std::wstring UnattendedResultLine(TbtStatus status, uint16_t langId, bool checkOnly) {
  wchar_t szText[256] = L"";
  const StatusText text = UnattendedStatusTextFor(status, checkOnly);
  if (text.fallback) {
    LoadLocalizedString(langId, text.key, szText, 256);
    if (szText[0] == L'\0') std::swprintf(szText, 256, L"%ls", text.fallback);
  } else {
    UpdateResultText(status, langId, szText, 256);
  }
  const char* name = StatusName(status);
  wchar_t szLine[400];
  std::swprintf(szLine, 400, L"0x%08X %hs %ls", static_cast<unsigned>(status), name ? name : "provider code",
                szText);
  return szLine;
}

}  // namespace

CUpdateApp::CUpdateApp() : CWinApp(nullptr) {}

void CUpdateApp::EndWithSession(uint32_t dwExitCode) {
  if (m_options.silent) {
    const std::wstring line = UnattendedResultLine(dwExitCode, m_wLangId, m_options.checkOnly);
    WriteLineToParentConsole(line);
    RunLog("console: %s", Utf8(line).c_str());
  }
  // A code the window ends with is its own; any other is a step's status.
  const bool bWindowCode = !m_options.silent && dwExitCode == kExitCancelled;
  RunLog("result: %s", (bWindowCode ? ExitCodeForLog(dwExitCode) : StatusForLog(dwExitCode)).c_str());
  ::ExitProcess(dwExitCode);
}

BOOL CUpdateApp::ParseOptions(int argc, const wchar_t* const* argv) {
  m_options.downgradable = m_bDowngradable;
  m_options.langId = m_wLangId;
  ::ParseOptions(argc, argv, m_options);
  m_bDowngradable = m_options.downgradable;
  m_wLangId = m_options.langId;
  m_strArguments = JoinArguments(argc, argv);
  return TRUE;
}

BOOL CUpdateApp::InitInstance() {
  // First of all: every library from here on comes from System32 only.
  const wchar_t* pszUnusableDll = UseSystemDllsOnly();
  m_bDowngradable = 0;
  m_wLangId = ::GetUserDefaultUILanguage();

  // The runtime's wide arguments; rebuilt from the command line when the
  // runtime was not asked for them.
  if (__wargv) {
    ParseOptions(__argc, __wargv);
  } else {
    int argc = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    if (argv) {
      ParseOptions(argc, argv);
      ::LocalFree(argv);
    }
  }
  const UpdateOptions& options = m_options;
  SetSystemDllRunWindowless(options.silent);

  // A deployment line that does not read as meant is refused before anything
  // is touched, the log file included: its path may be the part misread.
  if (!options.badArgument.empty()) {
    const std::string code = ExitCodeForLog(kExitInvalidCommandLine);  // ASCII
    WriteLineToParentConsole(std::wstring(code.begin(), code.end()) + L" unknown or malformed argument: " +
                             options.badArgument + L" (nothing was done; /? lists the options)");
    m_dwExitCode = kExitInvalidCommandLine;
    return FALSE;
  }
  // Help is no run: no log, no status of an update, and never the code of one.
  if (options.help) {
    const std::wstring usage = UsageText();
    // A message box in a window station nobody sees would wait for ever.
    std::vector<std::wstring> lines;
    for (size_t at = 0, end; at < usage.size(); at = end + 2) {
      end = usage.find(L"\r\n", at);
      if (end == std::wstring::npos) end = usage.size();
      lines.push_back(usage.substr(at, end - at));
    }
    if (!WriteLinesToParentConsole(lines) && SessionIsInteractive())
      ::MessageBoxW(nullptr, usage.c_str(), kUpdateDlgTitle, MB_OK | MB_ICONINFORMATION);
    m_dwExitCode = kExitInvalidCommandLine;
    return FALSE;
  }

  CRunLogFile log(options.logPath);
  // Said in the log too, which is why only now; still before anything is done.
  if (pszUnusableDll) {
    ReportUnusableSystemDll(pszUnusableDll, options.silent);
    m_dwExitCode = kExitSystemDllUnusable;
    RunLog("result: %s", ExitCodeForLog(m_dwExitCode).c_str());
    return FALSE;
  }
  SessionGuardSetExit([](uint32_t dwExitCode) { theApp.EndWithSession(dwExitCode); });
  wchar_t szVersion[64] = L"";
  LayoutVersionText(szVersion, 64);
  RunLog("TbtFwUpdate %s started; options: %s", Utf8(szVersion).c_str(), Utf8(m_strArguments).c_str());
  RunLog("process: %s", ProcessKindForLog());

  // A window in a window station nobody sees would wait for a press that
  // never comes.
  if (!options.silent && !SessionIsInteractive()) {
    RunLog("window station not interactive: no one could answer a window; nothing is done (use /s or /c)");
    m_dwExitCode = ERR_NOT_INTERACTIVE;
    RunLog("result: %s", StatusForLog(m_dwExitCode).c_str());
  } else if (options.silent) {
    // What pressing Update runs, without a window; never a power-off: the
    // deployment software decides restarts.
    UpdateState state;
    state.m_bDowngradable = m_bDowngradable;
    state.m_wLangId = m_wLangId;
    state.m_bCheckOnly = options.checkOnly ? 1 : 0;
    wchar_t szReason[256] = L"";
    LoadLocalizedString(m_wLangId, L"IDS_SHUTDOWN_BLOCKED", szReason, 256);
    m_dwExitCode = RunUpdateUnattended(state, szReason);
    // An image written earlier since the start says so, whatever the option.
    const std::wstring line =
        UnattendedResultLine(m_dwExitCode, m_wLangId, options.checkOnly && !state.m_bAlreadyWritten);
    WriteLineToParentConsole(line);
    RunLog("console: %s", Utf8(line).c_str());
    RunLog("result: %s", StatusForLog(m_dwExitCode).c_str());
  } else {
    CUpdateDlg dlg(nullptr);
    dlg.m_state.m_bDowngradable = m_bDowngradable;
    dlg.m_state.m_wLangId = m_wLangId;
    m_pMainWnd = &dlg;
    m_dwExitCode = dlg.RunModal(g_gdiplus.Start());
    m_pMainWnd = nullptr;
    // A code the worker left is a step's status; any other is the window's own.
    const bool bFromWorker = m_dwExitCode == dlg.m_state.m_dwStatus;
    RunLog("result: %s", (bFromWorker ? StatusForLog(m_dwExitCode) : ExitCodeForLog(m_dwExitCode)).c_str());
  }
  return FALSE;
}

int CUpdateApp::ExitInstance() {
  return static_cast<int>(m_dwExitCode);
}
