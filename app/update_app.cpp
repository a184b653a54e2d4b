#include "app/update_app.h"

#include <gdiplus.h>
#include <shellapi.h>
#include <stdlib.h>

#include <cwchar>
#include <string>

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

const wchar_t kUsage[] =
    L"TbtFwUpdate [/s | /c] [/l=PATH] [/downgradable] [/LID:hex] [/?]\r\n"
    L"  (none)         the window: read the prompt, press Update\r\n"
    L"  /s             silent: no window; the exit code is the outcome; never powers off\r\n"
    L"  /c             check only (silent): everything but the write; exit 0 when the image would be "
    L"written\r\n"
    L"  /l=PATH        append a log of the run (UTF-8) to PATH\r\n"
    L"  /downgradable  permit an image older than the installed firmware\r\n"
    L"  /LID:hex       language of the texts, e.g. /LID:411\r\n"
    L"Exit codes:\r\n"
    L"  0x00000000  updated (with /c: the image would be written)\r\n"
    L"  0x10430001  the ACPI control device is missing\r\n"
    L"  0x10430002  the provider lists no controller\r\n"
    L"  0x10430003  the provider cannot be reached or a call failed\r\n"
    L"  0x10430004  a device ID outside the known table\r\n"
    L"  0x10430005  no image, or one that cannot be read whole\r\n"
    L"  0x10430006  a board setting differs between controller and image\r\n"
    L"  0x10430007  no memory for the image\r\n"
    L"  0x10430008  a controller family the tool does not update\r\n"
    L"  0x10430009  the image is for another controller family\r\n"
    L"  0x1043000A  the image is for another port configuration\r\n"
    L"  0x1043000B  the image needs a newer NVM layout than the controller has\r\n"
    L"  0x1043000C  the image is older than the installed firmware\r\n"
    L"  0x1043000D  silent run on battery: nothing was done\r\n"
    L"  0x1043000E  another update is running on this computer: nothing was done\r\n"
    L"  0x1043000F  a window no one can see (no /s): nothing was done\r\n"
    L"  0x000004C7  (1223) the window was closed before any attempt\r\n"
    L"  0x0000045A  (1114) the window could not be drawn (graphics did not start)\r\n"
    L"  0x00000714  (1812) the window could not be drawn (its art is unusable)\r\n"
    L"  0x0000007E  (126) a system library could not be loaded from the system folder\r\n"
    L"  other       the provider's own code\r\n";

// The arguments after the program's name, as given.
std::wstring JoinArguments(int argc, const wchar_t* const* argv) {
  std::wstring text;
  for (int i = 1; i < argc && argv; ++i) {
    if (i > 1) text += L' ';
    text += argv[i] ? argv[i] : L"";
  }
  return text;
}

}  // namespace

CUpdateApp::CUpdateApp() : CWinApp(nullptr) {}

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
  if (pszUnusableDll) {
    ReportUnusableSystemDll(pszUnusableDll, options.silent);
    m_dwExitCode = kExitSystemDllUnusable;
    return FALSE;
  }

  CRunLogFile log(options.logPath);
  wchar_t szVersion[64] = L"";
  LayoutVersionText(szVersion, 64);
  RunLog("TbtFwUpdate %s started; options: %s", Utf8(szVersion).c_str(), Utf8(m_strArguments).c_str());

  // A window or a message box in a window station nobody sees would wait for
  // a press that never comes.
  const bool bSeen = options.silent || SessionIsInteractive();
  if (options.help) {
    m_dwExitCode = STATUS_OK;
    if (!WriteToParentConsole(kUsage)) {
      if (bSeen)
        ::MessageBoxW(nullptr, kUsage, kUpdateDlgTitle, MB_OK | MB_ICONINFORMATION);
      else
        m_dwExitCode = ERR_NOT_INTERACTIVE;
    }
  } else if (!bSeen) {
    RunLog("window station not interactive: no one could answer a window; nothing is done (use /s or /c)");
    m_dwExitCode = ERR_NOT_INTERACTIVE;
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
    wchar_t szText[256] = L"";
    UpdateResultText(m_dwExitCode, m_wLangId, szText, 256);
    const char* name = StatusName(m_dwExitCode);
    wchar_t szLine[400];
    std::swprintf(szLine, 400, L"0x%08X %hs %ls\r\n", static_cast<unsigned>(m_dwExitCode),
                  name ? name : "provider code", szText);
    WriteToParentConsole(szLine);
  } else {
    CUpdateDlg dlg(nullptr);
    dlg.m_state.m_bDowngradable = m_bDowngradable;
    dlg.m_state.m_wLangId = m_wLangId;
    m_pMainWnd = &dlg;
    m_dwExitCode = dlg.RunModal(g_gdiplus.Start());
    m_pMainWnd = nullptr;
  }
  RunLog("result: %s", StatusForLog(m_dwExitCode).c_str());
  return FALSE;
}

int CUpdateApp::ExitInstance() {
  return static_cast<int>(m_dwExitCode);
}
