/* A DLL planted beside the program under the name of a system DLL. If it is
   ever loaded, its DllMain leaves NAME.dll.ran beside itself; every name it
   exports leads to the one stub, so no loader refuses it for a missing
   function before DllMain has run. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved) {
  (void)pReserved;
  if (dwReason == DLL_PROCESS_ATTACH) {
    WCHAR szPath[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(hInstance, szPath, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
      HANDLE h;
      lstrcatW(szPath, L".ran");
      h = CreateFileW(szPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
  return TRUE;
}

/* Also what rundll32 calls when a test loads the DLL on purpose. */
void CALLBACK planted_stub(HWND hWnd, HINSTANCE hInstance, LPSTR pszCmdLine, int nCmdShow) {
  (void)hWnd;
  (void)hInstance;
  (void)pszCmdLine;
  (void)nCmdShow;
}
