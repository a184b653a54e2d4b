// The layered surface: window style, centring, composition order, the child
// registry's growth and duplicates, release, and dragging by real input.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "surface_dialog.h"
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

}  // namespace
