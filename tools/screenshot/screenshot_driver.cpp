// Shows the update window in each of its looks, one after the other, for
// shoot.sh to photograph: the prompt, the caution on battery, the busy
// animation, success, success after Tab with the pointer on Shut down (the
// focus ring on Later), and a failure. The worker and the hardware are simulated
// here (this is a tool, not the product). For each look it writes
// <dir>\<look>.ready holding the window's screen rectangle and waits for
// <dir>\<look>.done.
//
//   screenshot_driver.exe <signal folder>
#include <windows.h>

#include <gdiplus.h>

#include <cstdio>
#include <string>

#include "controller/acpi_channel.h"
#include "controller/power_off.h"
#include "controller/power_source.h"
#include "ui/update_dlg.h"
#include "update/update_worker.h"

namespace {

std::wstring g_signalDir;
bool g_onBattery = false;
DWORD g_workerStatus = 0;
bool g_signalBusy = false;
bool g_acpiOpen = false;
HWND g_hDlg = nullptr;

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Announces a look and waits until it has been photographed. On the window's
// thread it keeps the window's messages flowing meanwhile.
void Signal(const wchar_t* look, bool pump) {
  RECT rc{};
  ::GetWindowRect(g_hDlg, &rc);
  const std::wstring base = g_signalDir + L"\\" + look;
  if (FILE* f = _wfopen((base + L".ready.tmp").c_str(), L"w")) {
    std::fprintf(f, "%ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    std::fclose(f);
    ::MoveFileW((base + L".ready.tmp").c_str(), (base + L".ready").c_str());
  }
  const DWORD start = ::GetTickCount();
  while (!FileExists(base + L".done") && ::GetTickCount() - start < 60000) {
    MSG msg;
    while (pump && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    ::Sleep(20);
  }
}

void Click(HWND hDlg, int nId) {
  ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, nId)));
}

}  // namespace

// ---- Simulated worker and hardware ------------------------------------------

bool AcpiOpen() {
  return g_acpiOpen = true;
}
bool AcpiClose() {
  g_acpiOpen = false;
  return true;
}
bool AcpiIsOpen() {
  return g_acpiOpen;
}
bool PowerRunsOnBattery() {
  return g_onBattery;
}
void PowerOffMachine(HWND hwndDialog) {
  ::PostMessageW(hwndDialog, WM_CLOSE, 0, 0);
}

DWORD WINAPI UpdateWorker(LPVOID param) {
  if (g_signalBusy) {
    ::Sleep(1200);  // a few frames into the animation
    Signal(L"busy", false);
  }
  static_cast<UpdateState*>(param)->m_dwStatus = g_workerStatus;
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: screenshot_driver <signal folder>\n");
    return 2;
  }
  g_signalDir = argv[1];
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  {
    // Prompt, then battery, then busy and success in one window.
    CUpdateDlg dlg;
    dlg.Create();
    g_hDlg = dlg.m_hWnd;
    Signal(L"prompt", true);
    g_onBattery = true;
    Click(g_hDlg, IDC_UPDATE);
    Signal(L"battery", true);
    g_onBattery = false;
    g_signalBusy = true;
    Click(g_hDlg, IDC_UPDATE);
    g_signalBusy = false;
    Signal(L"success", true);
    // Tab, as a person does: the focus (and its ring) moves to Later; the
    // pointer rests on Shut down, which shows its hover art only.
    MSG tab{::GetFocus(), WM_KEYDOWN, VK_TAB, 0x000F0001, ::GetTickCount(), {}};
    ::IsDialogMessageW(g_hDlg, &tab);
    RECT rc{};
    ::GetWindowRect(dlg.m_btnShutdown.m_hWnd, &rc);
    ::SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    Signal(L"keyboard", true);
    dlg.DestroyWindow();
  }
  {
    // A failure shown with its code.
    CUpdateDlg dlg;
    dlg.Create();
    g_hDlg = dlg.m_hWnd;
    g_workerStatus = ERR_IMAGE_MISMATCH;
    Click(g_hDlg, IDC_UPDATE);
    Signal(L"failure", true);
    dlg.DestroyWindow();
  }
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
