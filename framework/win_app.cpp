#include "framework/win_app.h"

namespace {
CWinApp* g_pApp = nullptr;  // the one application object
}  // namespace

CWinApp::CWinApp(LPCWSTR pszAppName) : m_pszAppName(pszAppName) {
  if (!g_pApp) g_pApp = this;
}

CWinApp::~CWinApp() {
  if (g_pApp == this) g_pApp = nullptr;
}

BOOL CWinApp::InitInstance() {
  return TRUE;
}

int CWinApp::Run() {
  MSG msg{};
  while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  m_nExitCode = static_cast<int>(msg.wParam);
  return ExitInstance();
}

int CWinApp::ExitInstance() {
  return m_nExitCode;
}

CWinApp* AfxGetApp() {
  return g_pApp;
}

HINSTANCE AfxGetResourceHandle() {
  if (g_pApp && g_pApp->m_hInstance) return g_pApp->m_hInstance;
  return ::GetModuleHandleW(nullptr);
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR lpCmdLine, int nCmdShow) {
  CWinApp* pApp = AfxGetApp();
  if (!pApp) return -1;
  pApp->m_hInstance = hInstance;
  pApp->m_lpCmdLine = lpCmdLine;
  pApp->m_nCmdShow = nCmdShow;
  if (!pApp->InitInstance()) return pApp->ExitInstance();
  return pApp->Run();
}
