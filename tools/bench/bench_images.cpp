// Prints how long LoadResourceImage takes for the art the window reloads: one
// spinner frame per 100 ms tick while an update runs, and the background and
// control art at each layout. Figures are per load, including the delete.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ui/resource_image.h"

namespace {

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Figures {
  double median, p90, min, max;
};

Figures Summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  const size_t n = ms.size();
  return {n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2, ms[(n * 9) / 10], ms.front(), ms.back()};
}

// Times `runs` rounds of loading (and deleting) every id in `ids` at `scale`.
Figures Time(const std::vector<UINT>& ids, double scale, int runs, UINT* width, UINT* height) {
  std::vector<double> samples;
  for (int i = -3; i < runs; ++i) {  // three warm-up rounds, not counted
    const double start = Now();
    for (UINT id : ids) {
      ResourceImage* image = LoadResourceImage(id, L"IMG", nullptr, scale);
      *width = image ? image->GetWidth() : 0;
      *height = image ? image->GetHeight() : 0;
      delete image;
    }
    if (i >= 0) samples.push_back(Now() - start);
  }
  return Summarise(samples);
}

}  // namespace

int main() {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) {
    std::fprintf(stderr, "GDI+ did not start\n");
    return 1;
  }

  // The art one layout loads: background, close cross, bullet, illustration,
  // caution icon, Update and Exit (four states each), the first spinner frame,
  // Shut down and Later (three states each).
  const std::vector<UINT> layout = {129, 130, 133, 132, 131, 134, 135, 136, 137, 140, 139, 138,
                                    137, 140, 139, 138, 141, 150, 152, 153, 151, 152, 153};
  const struct {
    const char* what;
    std::vector<UINT> ids;
    double scale;
    int runs;
  } cases[] = {
      {"spinner frame 141", {141}, 1.0, 500},     {"spinner frame 141", {141}, 0.5, 500},
      {"background 129", {129}, 1.0, 40},         {"background 129", {129}, 0.5, 40},
      {"one layout (23 loads)", layout, 1.0, 15}, {"one layout (23 loads)", layout, 0.5, 15},
  };

  std::printf("LoadResourceImage + delete, milliseconds per round; budget: the 100 ms animation tick\n");
  std::printf("%-24s %5s %11s %4s %8s %8s %8s %8s %8s\n", "art", "scale", "size", "runs", "median", "p90",
              "min", "max", "of tick");
  for (const auto& c : cases) {
    UINT w = 0, h = 0;
    const Figures f = Time(c.ids, c.scale, c.runs, &w, &h);
    char size[32];
    std::snprintf(size, sizeof(size), "%ux%u", w, h);
    std::printf("%-24s %5.1f %11s %4d %8.3f %8.3f %8.3f %8.3f %7.1f%%\n", c.what, c.scale,
                c.ids.size() == 1 ? size : "-", c.runs, f.median, f.p90, f.min, f.max, f.median);
  }
  Gdiplus::GdiplusShutdown(token);
  return 0;
}
