#include "app/update_app.h"

#include <gdiplus.h>
#include <shellapi.h>
#include <stdlib.h>

#include "app/options.h"
#include "ui/update_dlg.h"

// The one application object. Static initialisation runs in this order within
// this file: the application object, then GDI+; the ACPI channel is an empty
// global of its own. At exit the order reverses: GDI+ shuts down, then the
// application object is destroyed.
CUpdateApp theApp;

namespace {

// GDI+ runs from before the dialog exists until after it has been destroyed.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, background thread on
    m_bRunning = Gdiplus::GdiplusStartup(&m_token, &input, nullptr) == Gdiplus::Ok ? 1 : 0;
  }
  bool Running() const { return m_bRunning != 0; }
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

CUpdateApp::CUpdateApp() : CWinApp(nullptr) {}

BOOL CUpdateApp::ParseOptions(int argc, const wchar_t* const* argv) {
  ::ParseOptions(argc, argv, m_bDowngradable, m_wLangId);
  return TRUE;
}

BOOL CUpdateApp::InitInstance() {
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

  {
    CUpdateDlg dlg(nullptr);
    dlg.m_state.m_bDowngradable = m_bDowngradable;
    dlg.m_state.m_wLangId = m_wLangId;
    m_pMainWnd = &dlg;
    m_dwExitCode = dlg.RunModal(g_gdiplus.Running());
    m_pMainWnd = nullptr;
  }
  return FALSE;
}

int CUpdateApp::ExitInstance() {
  return static_cast<int>(m_dwExitCode);
}
