// How long the layered window takes to compose, beside the least it could
// take: a bare UpdateLayeredWindow of a surface of the same size. Also one
// tick of the busy animation (frame load + composition) and start-up to the
// first composed frame, the program's own start first (System32 only, its
// system DLLs loaded and bound). The scale follows the display (compose.sh
// runs both).
//
// The update worker and the hardware are stood in for: nothing is updated.
#include <windows.h>

#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/system_dlls.h"
#include "controller/acpi_channel.h"
#include "controller/power_off.h"
#include "controller/power_source.h"
#include "ui/update_dlg.h"
#include "update/update_worker.h"

bool AcpiOpen() {
  return true;
}
bool AcpiClose() {
  return true;
}
bool AcpiIsOpen() {
  return true;
}
bool PowerRunsOnBattery() {
  return false;
}
void PowerOffMachine(HWND) {}
DWORD WINAPI UpdateWorker(LPVOID) {
  return 0;
}

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  ::QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

template <typename Fn>
double MedianMs(int runs, Fn fn) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const double start = Now();
    fn();
    times.push_back(Now() - start);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// A dialog whose first composition is timed from the process's creation.
class CBenchDlg : public CUpdateDlg {
 public:
  using CUpdateDlg::Compose;
  double m_firstFrameMs = 0;  // since process creation
  double m_initMs = 0;        // OnInitDialog alone

 protected:
  BOOL OnInitDialog() override {
    const double start = Now();
    const BOOL result = CUpdateDlg::OnInitDialog();
    m_initMs = Now() - start;
    FILETIME created, exited, kernel, user, now;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    ::GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& ft) {
      return (static_cast<unsigned long long>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    };
    m_firstFrameMs = static_cast<double>(ticks(now) - ticks(created)) / 10000.0;
    return result;
  }
};

}  // namespace

int wmain() {
  // As the program starts: libraries from System32 only, then GDI+.
  const double startDlls = Now();
  if (const wchar_t* pszUnusable = UseSystemDllsOnly()) {
    std::printf("%ls could not be loaded from System32\n", pszUnusable);
    return 1;
  }
  const double dllsMs = Now() - startDlls;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  {
    CBenchDlg dlg;
    if (!dlg.Create() || !dlg.GetBackground()) {
      std::printf("the window could not be created (error %lu, background %p)\n", ::GetLastError(),
                  static_cast<void*>(dlg.GetBackground()));
      return 1;
    }
    const double scale = dlg.m_state.m_nScreenClass ? 1.0 : 0.5;
    const int width = static_cast<int>(dlg.GetBackground()->GetWidth());
    const int height = static_cast<int>(dlg.GetBackground()->GetHeight());
    constexpr int kRuns = 41;

    // A few rounds first, so neither figure carries one-off costs (first
    // glyphs, first window surface) that the other does not.
    for (int i = 0; i < 5; ++i) dlg.Compose();
    const double compose = MedianMs(kRuns, [&] { dlg.Compose(); });

    // The floor: the same window, a prepared surface of the same size, only
    // the hand-over to the window manager.
    HDC hdcWindow = ::GetDC(dlg.m_hWnd);
    HDC hdcMem = ::CreateCompatibleDC(hdcWindow);
    BITMAPINFO bmi{};
    bmi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* pBits = nullptr;
    HBITMAP hDib = ::CreateDIBSection(hdcWindow, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0);
    HGDIOBJ hOld = ::SelectObject(hdcMem, hDib);
    dlg.PaintSurface(hdcMem, pBits);
    RECT rc{};
    dlg.GetWindowRect(&rc);
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    auto handOver = [&] {
      POINT dst{rc.left, rc.top}, src{0, 0};
      SIZE size{width, height};
      ::UpdateLayeredWindow(dlg.m_hWnd, hdcWindow, &dst, &size, hdcMem, &src, 0, &blend, ULW_ALPHA);
    };
    for (int i = 0; i < 5; ++i) handOver();
    const double floor = MedianMs(kRuns, handOver);
    const double paint = MedianMs(kRuns, [&] { dlg.PaintSurface(hdcMem, pBits); });
    // What every composition pays before drawing: a new surface, its pages
    // first touched.
    const double fresh = MedianMs(kRuns, [&] {
      void* pNew = nullptr;
      if (HBITMAP hNew = ::CreateDIBSection(hdcWindow, &bmi, DIB_RGB_COLORS, &pNew, nullptr, 0)) {
        std::memset(pNew, 0, static_cast<size_t>(width) * 4 * static_cast<size_t>(height));
        ::DeleteObject(hNew);
      }
    });
    // What each visible control adds to drawing the surface.
    std::vector<std::pair<int, double>> perControl;
    for (size_t i = 0; i < dlg.GetChildCount(); ++i) {
      CSkinCtrl* pCtrl = dlg.GetChild(i);
      if (!pCtrl->m_bVisible) continue;
      pCtrl->m_bVisible = FALSE;
      const double without = MedianMs(kRuns, [&] { dlg.PaintSurface(hdcMem, pBits); });
      pCtrl->m_bVisible = TRUE;
      perControl.emplace_back(::GetDlgCtrlID(pCtrl->m_hWnd), paint - without);
    }
    ::SelectObject(hdcMem, hOld);
    ::DeleteObject(hDib);
    ::DeleteDC(hdcMem);
    ::ReleaseDC(dlg.m_hWnd, hdcWindow);

    // One tick of the busy animation, as the wait loop does it.
    dlg.m_picSpinner.ShowWindow(SW_SHOW);
    UINT frame = 141;
    const double tick = MedianMs(kRuns, [&] {
      dlg.m_picSpinner.SetImage(frame, L"IMG", nullptr, scale);
      frame = frame == 148 ? 141 : frame + 1;
      dlg.Compose();
    });

    const double load = MedianMs(kRuns, [&] {
      dlg.m_picSpinner.SetImage(frame, L"IMG", nullptr, scale);
      frame = frame == 148 ? 141 : frame + 1;
    });
    const double spinnerShown = MedianMs(kRuns, [&] { dlg.Compose(); });

    std::printf("scale %.1f (%d x %d surface, median of %d)\n", scale, width, height, kRuns);
    std::printf("  Compose()                          %8.2f ms\n", compose);
    std::printf("    of which drawing the surface     %8.2f ms\n", paint);
    for (const auto& [id, ms] : perControl)
      std::printf("      control %4d                     %8.2f ms\n", id, ms);
    std::printf("    a new surface, written once      %8.2f ms\n", fresh);
    std::printf("  bare UpdateLayeredWindow (floor)   %8.2f ms\n", floor);
    std::printf("  spinner tick (frame load+Compose)  %8.2f ms  (of a 100 ms tick)\n", tick);
    std::printf("    of which the frame load          %8.2f ms\n", load);
    std::printf("    of which Compose with the spinner %7.2f ms\n", spinnerShown);
    std::printf("  Compose / floor                    %8.2f x\n", compose / floor);
    std::printf("  System32 DLLs loaded and bound     %8.2f ms\n", dllsMs);
    std::printf("  OnInitDialog (layout + compose)    %8.2f ms\n", dlg.m_initMs);
    std::printf("  process start to first frame       %8.2f ms\n", dlg.m_firstFrameMs);
    dlg.DestroyWindow();
  }
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
