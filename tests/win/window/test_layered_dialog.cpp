// The layered surface: window style, centring, composition order, the child
// registry's growth and duplicates, release, and dragging by real input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "surface_dialog.h"
#include "tests/win/controller/iat_patch.h"
#include "window_test_support.h"

namespace {

constexpr uint32_t kBackground = 0xFF204060;

TEST(CenterInWorkAreaTest, HalvesTruncateTowardZero) {
  struct {
    RECT work;
    int w, h;
    POINT expected;
  } const rows[] = {
      {{0, 0, 1366, 728}, 780, 620, {293, 54}},        {{0, 0, 1367, 728}, 780, 620, {293, 54}},
      {{0, 0, 1365, 1240}, 1560, 1240, {-97, 0}},  // larger than the area: -97, not -98
      {{0, 0, 1365, 1239}, 1560, 1240, {-97, 0}},  // -1 / 2 is 0
      {{100, 40, 2660, 1480}, 1560, 1240, {600, 140}}, {{0, 0, 1920, 1080}, 780, 620, {570, 230}},
  };
  for (const auto& row : rows) {
    const POINT pt = CenterInWorkArea(row.work, row.w, row.h);
    EXPECT_EQ(pt.x, row.expected.x) << row.work.right << " x " << row.w;
    EXPECT_EQ(pt.y, row.expected.y) << row.work.bottom << " x " << row.h;
  }
}

TEST(ChildRegistryTest, GrowsOneThenByAQuarterDozen) {
  EXPECT_EQ(NextChildCapacity(0, 0), 1u);
  EXPECT_EQ(NextChildCapacity(1, 1), 5u);
  EXPECT_EQ(NextChildCapacity(5, 5), 9u);
  EXPECT_EQ(NextChildCapacity(40, 40), 45u) << "size / 8 above the minimum step";
  EXPECT_EQ(NextChildCapacity(20000, 20000), 21024u) << "step clamped to 1024";

  CSurfaceDlg dlg;  // no window needed to register
  std::vector<std::unique_ptr<CSkinLabel>> labels;
  std::vector<size_t> capacities;
  for (int i = 0; i < 12; ++i) {
    labels.push_back(std::make_unique<CSkinLabel>());
    dlg.AddChild(labels.back().get());
    capacities.push_back(dlg.GetChildCapacity());
    EXPECT_EQ(labels.back()->m_pHost, static_cast<ISkinHost*>(&dlg));
  }
  EXPECT_EQ(capacities, (std::vector<size_t>{1, 5, 5, 5, 5, 9, 9, 9, 9, 13, 13, 13}));

  // A second registration keeps the first place and adds nothing.
  dlg.AddChild(labels[3].get());
  dlg.AddChild(labels[0].get());
  EXPECT_EQ(dlg.GetChildCount(), 12u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(dlg.GetChild(i), labels[i].get());

  dlg.ReleaseResources();
  EXPECT_EQ(dlg.GetChildCount(), 0u);
  EXPECT_EQ(dlg.GetChildCapacity(), 0u);
}

class LayeredDialogTest : public ::testing::Test {
 protected:
  void TearDown() override { m_dlg.reset(); }
  void Create() {
    ASSERT_TRUE(m_dlg->Create());
    ASSERT_TRUE(m_dlg->m_hWnd);
  }
  std::unique_ptr<CSurfaceDlg> m_dlg = std::make_unique<CSurfaceDlg>();
};

TEST_F(LayeredDialogTest, BecomesACaptionlessPopupSizedToItsArtAndCentred) {
  Create();
  const DWORD dwStyle = m_dlg->GetStyle();
  EXPECT_FALSE(dwStyle & WS_CAPTION);
  EXPECT_TRUE(dwStyle & WS_POPUP);
  EXPECT_TRUE(m_dlg->GetExStyle() & WS_EX_LAYERED);

  RECT rcWork{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
  const POINT expected = CenterInWorkArea(rcWork, 120, 90);
  RECT rc{};
  m_dlg->GetWindowRect(&rc);
  EXPECT_EQ(rc.left, expected.x);
  EXPECT_EQ(rc.top, expected.y);
  EXPECT_EQ(rc.right - rc.left, 120);
  EXPECT_EQ(rc.bottom - rc.top, 90);

  const BLENDFUNCTION& blend = m_dlg->GetBlend();
  EXPECT_EQ(blend.BlendOp, AC_SRC_OVER);
  EXPECT_EQ(blend.BlendFlags, 0);
  EXPECT_EQ(blend.SourceConstantAlpha, 255);
  EXPECT_EQ(blend.AlphaFormat, AC_SRC_ALPHA);
  EXPECT_EQ(m_dlg->SendMessageW(WM_ERASEBKGND, 0, 0), TRUE);
}

TEST_F(LayeredDialogTest, NothingIsComposedBeforeThereIsABackground) {
  m_dlg->m_layout = [](CSurfaceDlg&) {};
  Create();
  m_dlg->Compose();
  EXPECT_FALSE(m_dlg->GetExStyle() & WS_EX_LAYERED) << "not even the style changes";

  // A background without pixels sizes the window to nothing and stops there.
  m_dlg->SetBackground(4242, L"IMG", nullptr, 1.0);
  ASSERT_NE(m_dlg->GetBackground(), nullptr);
  RECT rc{};
  m_dlg->GetWindowRect(&rc);
  EXPECT_EQ(rc.right - rc.left, 0);
  EXPECT_EQ(rc.bottom - rc.top, 0);
}

TEST_F(LayeredDialogTest, SurfaceIsTheBackgroundThenVisibleControlsInRegistrationOrder) {
  Create();
  CSurfaceDlg& d = *m_dlg;
  CSurfaceDlg::Place(d.m_lbl1, 10, 10, 40, 40);
  CSurfaceDlg::Place(d.m_lbl2, 30, 30, 40, 40);
  CSurfaceDlg::Place(d.m_lblHidden, 80, 10, 20, 20);
  d.m_lbl1.SetImage(IDB_TEST_MAGENTA, L"IMG", nullptr, 1.0);
  d.m_lbl2.SetImage(IDB_TEST_WHITE, L"IMG", nullptr, 1.0);
  d.m_lblHidden.SetImage(IDB_TEST_MAGENTA, L"IMG", nullptr, 1.0);
  d.AddChild(&d.m_lbl1);
  d.AddChild(&d.m_lbl2);
  d.AddChild(&d.m_lblHidden);
  d.AddChild(&d.m_lbl1);  // again: keeps its first place, under m_lbl2

  const Surface s = RenderSurface(d);
  EXPECT_EQ(Alpha(s.At(0, 0)), 0) << "the art's transparent corner stays transparent";
  EXPECT_EQ(s.At(3, 3), 0u);
  EXPECT_EQ(s.At(9, 9), kBackground);
  EXPECT_EQ(s.At(15, 15), 0xFFFF00FFu) << "first control over the background";
  EXPECT_EQ(s.At(40, 40), 0xFFFFFFFFu) << "the later registration covers the earlier";
  EXPECT_EQ(s.At(90, 20), kBackground) << "a hidden control is not drawn";

  d.m_lblHidden.ShowWindow(SW_SHOW);
  EXPECT_EQ(RenderSurface(d).At(90, 20), 0xFFFF00FFu);
}

TEST_F(LayeredDialogTest, ReleasedSurfaceIgnoresLaterNotifications) {
  Create();
  m_dlg->AddChild(&m_dlg->m_lbl1);
  m_dlg->ReleaseResources();
  EXPECT_EQ(m_dlg->GetBackground(), nullptr);
  EXPECT_EQ(m_dlg->GetChildCount(), 0u);
  m_dlg->m_nRedraws = 0;
  m_dlg->m_lbl1.SetWindowTextW(L"after release");  // host pointer kept
  EXPECT_EQ(m_dlg->m_nRedraws, 1);
  m_dlg->Compose();  // returns at once
  EXPECT_EQ(RenderSurface(*m_dlg).width, 0);
}

TEST_F(LayeredDialogTest, SetBackgroundReplacesTheArtAndRefitsTheWindow) {
  Create();
  m_dlg->SetBackground(IDB_TEST_WHITE, L"IMG", nullptr, 0.5);  // 64 x 48 at half size
  RECT rc{};
  m_dlg->GetWindowRect(&rc);
  EXPECT_EQ(rc.right - rc.left, 32);
  EXPECT_EQ(rc.bottom - rc.top, 24);
  const Surface s = RenderSurface(*m_dlg);
  EXPECT_EQ(s.width, 32);
  EXPECT_EQ(s.At(16, 12), 0xFFFFFFFFu);
}

// Presses by real pointer input: on the surface or a label they start the
// system move loop; on a button they click it.
void PressAt(POINT pt) {
  const int cx = ::GetSystemMetrics(SM_CXSCREEN) - 1, cy = ::GetSystemMetrics(SM_CYSCREEN) - 1;
  INPUT inputs[3] = {};
  for (INPUT& in : inputs) {
    in.type = INPUT_MOUSE;
    in.mi.dx = pt.x * 65535 / cx;
    in.mi.dy = pt.y * 65535 / cy;
  }
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_ABSOLUTE;
  inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP | MOUSEEVENTF_ABSOLUTE;
  ::SendInput(3, inputs, sizeof(INPUT));
  PumpMessages(150);
}

TEST_F(LayeredDialogTest, PressOnSurfaceOrLabelDragsButPressOnButtonClicks) {
  Create();
  CSurfaceDlg& d = *m_dlg;
  CSurfaceDlg::Place(d.m_btn1, 60, 40, 40, 20);
  CSurfaceDlg::Place(d.m_lbl1, 10, 60, 40, 20);
  d.m_btn1.SetImages(IDB_TEST_NORMAL, 0, 0, 0, L"IMG", nullptr, 1.0);
  d.AddChild(&d.m_btn1);
  d.AddChild(&d.m_lbl1);
  RECT rc{};
  d.GetWindowRect(&rc);

  PressAt(POINT{rc.left + 20, rc.top + 20});  // background
  EXPECT_EQ(d.m_nEnterSizeMove, 1);
  PressAt(POINT{rc.left + 20, rc.top + 70});  // label
  EXPECT_EQ(d.m_nEnterSizeMove, 2);
  PressAt(POINT{rc.left + 70, rc.top + 50});  // button
  EXPECT_EQ(d.m_nEnterSizeMove, 2);
  EXPECT_EQ(d.m_nButton1Clicks, 1);
}

// ---------------------------------------------------------------------------
// What a composition hands the window manager. The lookup of
// UpdateLayeredWindow goes through GetProcAddress, whose import is redirected
// so the lookup finds a recorder that passes the call on.

struct HandOver {
  int calls = 0;
  HWND hWnd = nullptr;
  bool hasDestDc = false;
  POINT dest{}, src{};
  SIZE size{};
  COLORREF key = 0xFFFFFFFF;
  BLENDFUNCTION blend{};
  DWORD flags = 0;
  Surface pixels;  // what the source DC held, top-down, premultiplied
};
HandOver g_handOver;
ImportPatch* g_pGetProcAddress = nullptr;

BOOL WINAPI RecordUpdateLayeredWindow(HWND hWnd, HDC hdcDst, POINT* pptDst, SIZE* psize, HDC hdcSrc,
                                      POINT* pptSrc, COLORREF crKey, BLENDFUNCTION* pblend, DWORD dwFlags) {
  HandOver& h = g_handOver;
  ++h.calls;
  h.hWnd = hWnd;
  h.hasDestDc = hdcDst != nullptr;
  if (pptDst) h.dest = *pptDst;
  if (psize) h.size = *psize;
  if (pptSrc) h.src = *pptSrc;
  h.key = crKey;
  if (pblend) h.blend = *pblend;
  h.flags = dwFlags;
  if (psize && hdcSrc) {
    // Read through GDI, as the window manager reads it, top-down.
    h.pixels.width = psize->cx;
    h.pixels.height = psize->cy;
    h.pixels.pixels.assign(static_cast<size_t>(psize->cx) * psize->cy, 0);
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = psize->cx;
    bmi.bmiHeader.biHeight = -psize->cy;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    ::GetDIBits(hdcSrc, static_cast<HBITMAP>(::GetCurrentObject(hdcSrc, OBJ_BITMAP)), 0, psize->cy,
                h.pixels.pixels.data(), &bmi, DIB_RGB_COLORS);
  }
  return ::UpdateLayeredWindow(hWnd, hdcDst, pptDst, psize, hdcSrc, pptSrc, crKey, pblend, dwFlags);
}

FARPROC WINAPI LookUpRecorder(HMODULE hModule, LPCSTR pszName) {
  if (HIWORD(reinterpret_cast<ULONG_PTR>(pszName)) != 0 && std::strcmp(pszName, "UpdateLayeredWindow") == 0)
    return reinterpret_cast<FARPROC>(&RecordUpdateLayeredWindow);
  return g_pGetProcAddress->Original<FARPROC(WINAPI*)(HMODULE, LPCSTR)>()(hModule, pszName);
}

TEST_F(LayeredDialogTest, CompositionHandsTheWholeSurfaceToTheWindowManager) {
  Create();
  CSurfaceDlg& d = *m_dlg;
  // Translucent red over the transparent corner and over the opaque art.
  CSurfaceDlg::Place(d.m_lbl1, 0, 0, 20, 20);
  CSurfaceDlg::Place(d.m_lbl2, 60, 40, 40, 20);
  d.m_lbl1.SetImage(IDB_TEST_TRANSLUCENT, L"IMG", nullptr, 1.0);
  d.m_lbl2.SetImage(IDB_TEST_NORMAL, L"IMG", nullptr, 1.0);
  d.AddChild(&d.m_lbl1);
  d.AddChild(&d.m_lbl2);

  ImportPatch patch("kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&LookUpRecorder));
  ASSERT_TRUE(patch.Active());
  g_pGetProcAddress = &patch;
  g_handOver = HandOver();
  d.Compose();
  d.Compose();
  g_pGetProcAddress = nullptr;

  const HandOver& h = g_handOver;
  EXPECT_EQ(h.calls, 2) << "looked up and called at every composition";
  EXPECT_EQ(h.hWnd, d.m_hWnd);
  EXPECT_TRUE(h.hasDestDc);
  RECT rc{};
  d.GetWindowRect(&rc);
  EXPECT_EQ(h.dest.x, rc.left);
  EXPECT_EQ(h.dest.y, rc.top);
  EXPECT_EQ(h.size.cx, 120);
  EXPECT_EQ(h.size.cy, 90);
  EXPECT_EQ(h.src.x, 0);
  EXPECT_EQ(h.src.y, 0);
  EXPECT_EQ(h.key, 0u);
  EXPECT_EQ(h.blend.BlendOp, AC_SRC_OVER);
  EXPECT_EQ(h.blend.BlendFlags, 0);
  EXPECT_EQ(h.blend.SourceConstantAlpha, 255);
  EXPECT_EQ(h.blend.AlphaFormat, AC_SRC_ALPHA);
  EXPECT_EQ(h.flags, static_cast<DWORD>(ULW_ALPHA));

  // Premultiplied pixels: red at alpha 128 alone in the corner, and blended
  // source-over on the background (0x204060) elsewhere.
  const Surface& s = h.pixels;
  ASSERT_EQ(s.width, 120);
  EXPECT_TRUE(Near(s.At(3, 3), 0x80800000, 1)) << std::hex << s.At(3, 3);
  EXPECT_TRUE(Near(s.At(12, 12), 0xFF902030, 1)) << std::hex << s.At(12, 12);
  EXPECT_EQ(s.At(30, 30), kBackground);
  EXPECT_EQ(s.At(80, 50), 0xFFC86432u) << "opaque art covers";
  EXPECT_EQ(s.At(119, 89), kBackground) << "rows in screen order: the bottom right is the bottom right";
}

// Counts the create/release pairs a composition makes through this program's
// imports (Wine's own counters of GDI objects are stubs).
struct PairCounts {
  LONG dcs = 0, windowDcs = 0, libraries = 0, objects = 0;
  LONG created = 0;  // of all four kinds
};
PairCounts g_pairs;
ImportPatch* g_pPatches[8] = {};
template <class Fn>
Fn Real(int i) {
  return g_pPatches[i]->Original<Fn>();
}

HDC WINAPI CountCreateCompatibleDC(HDC hdc) {
  HDC h = Real<HDC(WINAPI*)(HDC)>(0)(hdc);
  if (h) ++g_pairs.dcs, ++g_pairs.created;
  return h;
}
BOOL WINAPI CountDeleteDC(HDC hdc) {
  --g_pairs.dcs;
  return Real<BOOL(WINAPI*)(HDC)>(1)(hdc);
}
HBITMAP WINAPI CountCreateDIBSection(HDC hdc, const BITMAPINFO* pbmi, UINT usage, void** ppv, HANDLE h,
                                     DWORD off) {
  HBITMAP hbm = Real<HBITMAP(WINAPI*)(HDC, const BITMAPINFO*, UINT, void**, HANDLE, DWORD)>(2)(
      hdc, pbmi, usage, ppv, h, off);
  if (hbm) ++g_pairs.objects, ++g_pairs.created;
  return hbm;
}
BOOL WINAPI CountDeleteObject(HGDIOBJ h) {
  --g_pairs.objects;
  return Real<BOOL(WINAPI*)(HGDIOBJ)>(3)(h);
}
HDC WINAPI CountGetDC(HWND hWnd) {
  HDC h = Real<HDC(WINAPI*)(HWND)>(4)(hWnd);
  if (h) ++g_pairs.windowDcs, ++g_pairs.created;
  return h;
}
int WINAPI CountReleaseDC(HWND hWnd, HDC hdc) {
  --g_pairs.windowDcs;
  return Real<int(WINAPI*)(HWND, HDC)>(5)(hWnd, hdc);
}
HMODULE WINAPI CountLoadLibraryW(LPCWSTR pszName) {
  HMODULE h = Real<HMODULE(WINAPI*)(LPCWSTR)>(6)(pszName);
  if (h) ++g_pairs.libraries, ++g_pairs.created;
  return h;
}
BOOL WINAPI CountFreeLibrary(HMODULE h) {
  --g_pairs.libraries;
  return Real<BOOL(WINAPI*)(HMODULE)>(7)(h);
}

TEST_F(LayeredDialogTest, HundredsOfCompositionsLeaveNothingBehind) {
  Create();
  CSurfaceDlg& d = *m_dlg;
  CSurfaceDlg::Place(d.m_btn1, 10, 10, 40, 20);
  CSurfaceDlg::Place(d.m_lbl1, 60, 40, 20, 20);
  d.m_btn1.SetImages(IDB_TEST_NORMAL, 0, IDB_TEST_HOVER, 0, L"IMG", nullptr, 1.0);
  d.m_btn1.SetWindowTextW(L"caption");
  d.m_lbl1.SetImage(IDB_TEST_TRANSLUCENT, L"IMG", nullptr, 1.0);
  d.AddChild(&d.m_btn1);
  d.AddChild(&d.m_lbl1);
  d.Compose();

  const DWORD handlesBefore = [] {
    DWORD n = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &n);
    return n;
  }();
  const DWORD gdiBefore = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  {
    ImportPatch p0("gdi32.dll", "CreateCompatibleDC", reinterpret_cast<void*>(&CountCreateCompatibleDC));
    ImportPatch p1("gdi32.dll", "DeleteDC", reinterpret_cast<void*>(&CountDeleteDC));
    ImportPatch p2("gdi32.dll", "CreateDIBSection", reinterpret_cast<void*>(&CountCreateDIBSection));
    ImportPatch p3("gdi32.dll", "DeleteObject", reinterpret_cast<void*>(&CountDeleteObject));
    ImportPatch p4("user32.dll", "GetDC", reinterpret_cast<void*>(&CountGetDC));
    ImportPatch p5("user32.dll", "ReleaseDC", reinterpret_cast<void*>(&CountReleaseDC));
    ImportPatch p6("kernel32.dll", "LoadLibraryW", reinterpret_cast<void*>(&CountLoadLibraryW));
    ImportPatch p7("kernel32.dll", "FreeLibrary", reinterpret_cast<void*>(&CountFreeLibrary));
    ImportPatch* patches[] = {&p0, &p1, &p2, &p3, &p4, &p5, &p6, &p7};
    for (int i = 0; i < 8; ++i) {
      ASSERT_TRUE(patches[i]->Active()) << i;
      g_pPatches[i] = patches[i];
    }
    g_pairs = PairCounts();
    for (int i = 0; i < 300; ++i) {
      d.m_btn1.m_nState = (i % 2) ? SKIN_STATE_HOVER : 0;
      d.Compose();
    }
    // A surface, a memory DC, the window's DC and the library at least, each time.
    EXPECT_GE(g_pairs.created, 4 * 300) << "the counting patches saw the compositions";
    EXPECT_EQ(g_pairs.dcs, 0) << "memory DCs created and not deleted";
    EXPECT_EQ(g_pairs.objects, 0) << "surfaces created and not deleted";
    EXPECT_EQ(g_pairs.windowDcs, 0) << "window DCs not released";
    EXPECT_EQ(g_pairs.libraries, 0) << "libraries not freed";
  }
  DWORD handlesAfter = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handlesAfter);
  EXPECT_LE(handlesAfter, handlesBefore + 2) << "kernel handles";
  EXPECT_LE(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore + 2) << "GDI objects";
}

}  // namespace
