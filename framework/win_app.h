// CWinApp: the one application object, and the program's entry point.
//
// Exactly one CWinApp-derived object exists, a global; its constructor makes
// it the one AfxGetApp() returns. wWinMain calls InitInstance; when that
// returns FALSE the program ends with ExitInstance()'s result, otherwise Run()
// pumps messages until WM_QUIT and the program ends with its result.
#pragma once

#include <windows.h>

class CWnd;

class CWinApp {
 public:
  explicit CWinApp(LPCWSTR pszAppName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  virtual BOOL InitInstance();
  // The message loop; returns ExitInstance() once WM_QUIT arrives.
  virtual int Run();
  // The process exit code.
  virtual int ExitInstance();

  LPCWSTR m_pszAppName;
  HINSTANCE m_hInstance = nullptr;
  LPWSTR m_lpCmdLine = nullptr;
  int m_nCmdShow = SW_SHOWDEFAULT;
  CWnd* m_pMainWnd = nullptr;

 protected:
  int m_nExitCode = 0;  // WM_QUIT's code after Run()
};

// The application object, or null before it is constructed / after it is gone.
CWinApp* AfxGetApp();
// The module that holds the dialog templates and art: the application's
// instance, or the executable when there is no application object.
HINSTANCE AfxGetResourceHandle();
// What wWinMain does; callable from tests.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);
