// Skinned buttons and labels on a real layered dialog: style mirrors, when a
// change recomposes the window, hover tracking through the platform, and what
// each state draws (pixels read back from the composed surface).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "surface_dialog.h"
#include "window_test_support.h"

namespace {

constexpr uint32_t kNormalArt = 0xFFC86432;
constexpr uint32_t kPressedArt = 0xFF00FF00;
constexpr uint32_t kHoverArt = 0xFF0000FF;
constexpr uint32_t kDisabledArt = 0xFFFFFF00;
constexpr uint32_t kBackground = 0xFF204060;

class SkinControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dlg = std::make_unique<CSurfaceDlg>();
    ASSERT_TRUE(m_dlg->Create());
  }
  void TearDown() override { m_dlg.reset(); }

  // Registers a button at (10, 10, 40 x 20) with the given art ids (0: none).
  CSkinButton& ArtButton(UINT nNormal, UINT nDisabled, UINT nHover, UINT nPressed) {
    CSkinButton& button = m_dlg->m_btn1;
    CSurfaceDlg::Place(button, 10, 10, 40, 20);
    button.SetImages(nNormal, nDisabled, nHover, nPressed, L"IMG", nullptr, 1.0);
    m_dlg->AddChild(&button);
    return button;
  }

  std::unique_ptr<CSurfaceDlg> m_dlg;
};

TEST_F(SkinControlTest, StyleMirrorsFollowTheTemplate) {
  EXPECT_TRUE(m_dlg->m_btn1.m_bVisible);
  EXPECT_FALSE(m_dlg->m_btn1.m_bDisabled);
  EXPECT_FALSE(m_dlg->m_lblHidden.m_bVisible) << "template control without WS_VISIBLE";
  EXPECT_TRUE(m_dlg->m_btnDisabled.m_bDisabled) << "template control with WS_DISABLED";
  EXPECT_EQ(m_dlg->m_btn1.m_pHost, nullptr) << "no host before AddChild";
}

// Each row: what is done to a registered control, and how many compositions
// it causes.
struct RedrawCase {
  const char* name;
  void (*action)(CSurfaceDlg&);
  int redraws;
};

const RedrawCase kLabelCases[] = {
    {"set text", [](CSurfaceDlg& d) { d.m_lbl1.SetWindowTextW(L"hello"); }, 1},
    {"set art", [](CSurfaceDlg& d) { d.m_lbl1.SetImage(IDB_TEST_MAGENTA, L"IMG", nullptr, 1.0); }, 0},
    {"move only",
     [](CSurfaceDlg& d) { d.m_lbl1.SetWindowPos(nullptr, 5, 6, 0, 0, SWP_NOSIZE | SWP_NOZORDER); }, 1},
    {"move and size",
     [](CSurfaceDlg& d) { d.m_lbl1.SetWindowPos(nullptr, 7, 8, 30, 30, SWP_NOZORDER | SWP_NOACTIVATE); }, 2},
    {"enable an enabled one", [](CSurfaceDlg& d) { d.m_lbl1.EnableWindow(TRUE); }, 0},
    {"disable", [](CSurfaceDlg& d) { d.m_lbl1.EnableWindow(FALSE); }, 1},
    {"show a visible one", [](CSurfaceDlg& d) { d.m_lbl1.ShowWindow(SW_SHOW); }, 0},
    {"hide", [](CSurfaceDlg& d) { d.m_lbl1.ShowWindow(SW_HIDE); }, 1},
    {"set font, colour, alignment",
     [](CSurfaceDlg& d) {
       d.m_lbl1.SetTextFont(L"Liberation Sans", 20, 0, Gdiplus::UnitPixel);
       d.m_lbl1.SetTextColor(0xFF123456);
       d.m_lbl1.SetTextAlign(0, 0);
     },
     0},
};

TEST_F(SkinControlTest, RegisteredLabelRecomposesOnlyOnRealChanges) {
  for (const RedrawCase& c : kLabelCases) {
    SCOPED_TRACE(c.name);
    m_dlg->m_lbl1.ShowWindow(SW_SHOW);
    m_dlg->m_lbl1.EnableWindow(TRUE);
    m_dlg->AddChild(&m_dlg->m_lbl1);
    m_dlg->m_nRedraws = 0;
    c.action(*m_dlg);
    EXPECT_EQ(m_dlg->m_nRedraws, c.redraws);
  }
  m_dlg->m_lbl1.ShowWindow(SW_HIDE);
  EXPECT_FALSE(m_dlg->m_lbl1.m_bVisible);
}

TEST_F(SkinControlTest, UnregisteredControlChangesSilently) {
  m_dlg->m_nRedraws = 0;
  m_dlg->m_lbl2.SetWindowTextW(L"quiet");
  m_dlg->m_lbl2.ShowWindow(SW_HIDE);
  m_dlg->m_btn2.EnableWindow(FALSE);
  EXPECT_EQ(m_dlg->m_nRedraws, 0);
  EXPECT_FALSE(m_dlg->m_lbl2.m_bVisible) << "the mirror still follows";
  EXPECT_TRUE(m_dlg->m_btn2.m_bDisabled);
}

TEST_F(SkinControlTest, ButtonWithoutNormalArtOnlyNotifiesOnVisibility) {
  CSkinButton& button = m_dlg->m_btn1;
  button.SetImages(0, IDB_TEST_DISABLED, IDB_TEST_HOVER, IDB_TEST_PRESSED, L"IMG", nullptr, 1.0);
  // Id 0 still asks the loader; a missing resource is an empty image, not null.
  ASSERT_NE(button.m_pImgNormal, nullptr);
  delete button.m_pImgNormal;
  button.m_pImgNormal = nullptr;
  m_dlg->AddChild(&button);
  m_dlg->m_nRedraws = 0;
  button.EnableWindow(FALSE);
  button.SetWindowTextW(L"text");
  button.SetWindowPos(nullptr, 1, 1, 10, 10, SWP_NOZORDER | SWP_NOACTIVATE);
  ::SendMessageW(button.m_hWnd, WM_MOUSEHOVER, 0, 0);
  EXPECT_EQ(m_dlg->m_nRedraws, 0);
  EXPECT_EQ(button.m_nState & SKIN_STATE_DISABLED, 0u) << "the disabled bit is not mirrored without art";
  button.ShowWindow(SW_HIDE);
  EXPECT_EQ(m_dlg->m_nRedraws, 1);
}

TEST_F(SkinControlTest, SetImagesLoadsOnlyTheGivenStates) {
  CSkinButton& button = m_dlg->m_btn1;
  button.SetImages(IDB_TEST_NORMAL, 0, IDB_TEST_HOVER, 0, L"IMG", nullptr, 0.5);
  ASSERT_NE(button.m_pImgNormal, nullptr);
  EXPECT_EQ(button.m_pImgNormal->GetWidth(), 20u);
  EXPECT_EQ(button.m_pImgDisabled, nullptr);
  ASSERT_NE(button.m_pImgHover, nullptr);
  EXPECT_EQ(button.m_pImgPressed, nullptr);
  button.ReleaseResources();
  EXPECT_EQ(button.m_pImgNormal, nullptr);
  EXPECT_EQ(button.m_pImgHover, nullptr);
  EXPECT_EQ(button.m_pFont, nullptr);
}

// Art drawn for every combination of state bits, with and without the
// optional art: the centre pixel of the button, and where the normal art went.
struct ArtCase {
  const char* name;
  UINT state;
  bool allArt;
  uint32_t centre;  // expected colour at the button's centre (loose)
};

const ArtCase kArtCases[] = {
    {"normal", 0, true, kNormalArt},
    {"hover", SKIN_STATE_HOVER, true, kHoverArt},
    {"hover pressed", SKIN_STATE_HOVER | SKIN_STATE_PRESSED, true, kPressedArt},
    {"pressed without hover", SKIN_STATE_PRESSED, true, kNormalArt},
    {"disabled", SKIN_STATE_DISABLED | SKIN_STATE_HOVER, true, kDisabledArt},
    // Fallbacks: 0.3 r + 0.59 g + 0.11 b = 124.5 for 0xC86432.
    {"disabled, grey fallback", SKIN_STATE_DISABLED, false, 0xFF7C7C7C},
    // 1.05 x + 0.05: 222.75, 117.75, 65.25.
    {"hover, brightened fallback", SKIN_STATE_HOVER, false, 0xFFDF7641},
    {"hover pressed, shifted fallback", SKIN_STATE_HOVER | SKIN_STATE_PRESSED, false, kNormalArt},
    // The keyboard's focus keeps the art (its cue is a ring, below), and a
    // press on it looks like a click's.
    {"focused", SKIN_STATE_FOCUS, true, kNormalArt},
    {"focused and pressed", SKIN_STATE_FOCUS | SKIN_STATE_PRESSED, true, kPressedArt},
    {"focused, disabled", SKIN_STATE_FOCUS | SKIN_STATE_DISABLED, true, kDisabledArt},
    {"focused without hover art", SKIN_STATE_FOCUS, false, kNormalArt},
};

// Focus is shown once the keyboard has been used in the window, as a first Tab
// does it.
void ShowKeyboardCues(HWND hDlg) {
  ::SendMessageW(hDlg, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  PumpMessages(20);
}

TEST_F(SkinControlTest, EachStateDrawsItsArtOrItsFallback) {
  ShowKeyboardCues(m_dlg->m_hWnd);
  for (const ArtCase& c : kArtCases) {
    SCOPED_TRACE(c.name);
    CSkinButton& button =
        c.allArt ? ArtButton(IDB_TEST_NORMAL, IDB_TEST_DISABLED, IDB_TEST_HOVER, IDB_TEST_PRESSED)
                 : ArtButton(IDB_TEST_NORMAL, 0, 0, 0);
    button.m_nState = c.state;
    const Surface s = RenderSurface(*m_dlg);
    ASSERT_EQ(s.width, 120);
    EXPECT_TRUE(Near(s.At(30, 20), c.centre, 2)) << std::hex << s.At(30, 20);
    EXPECT_EQ(s.At(9, 20), kBackground) << "nothing left of the button";
  }
}

TEST_F(SkinControlTest, PressedFallbackShiftsOnePixelRightAndDown) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, 0, 0);
  button.m_nState = SKIN_STATE_HOVER | SKIN_STATE_PRESSED;
  const Surface s = RenderSurface(*m_dlg);
  EXPECT_EQ(s.At(10, 10), kBackground) << "top-left corner uncovered";
  EXPECT_EQ(s.At(11, 11), kNormalArt);
  EXPECT_EQ(s.At(50, 30), kNormalArt) << "one column and row beyond the button";
  EXPECT_EQ(s.At(51, 31), kBackground);

  button.m_nState = 0;
  const Surface plain = RenderSurface(*m_dlg);
  EXPECT_EQ(plain.At(10, 10), kNormalArt);
  EXPECT_EQ(plain.At(50, 30), kBackground);
}

TEST_F(SkinControlTest, InvisibleControlIsNotDrawnEvenWhenRegistered) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, 0, 0);
  button.ShowWindow(SW_HIDE);
  const Surface s = RenderSurface(*m_dlg);
  EXPECT_EQ(s.Count(kNormalArt, 0, 0, s.width, s.height), 0);
}

// Caption colour per state, and the pressed caption's one-pixel shift, with
// thick black-free glyphs over the plain background.
struct CaptionBox {
  int count = 0;
  int left = 1 << 30, top = 1 << 30;
};
CaptionBox FindColour(const Surface& s, uint32_t argb) {
  CaptionBox box;
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x)
      if (s.At(x, y) == argb) {
        ++box.count;
        box.left = std::min(box.left, x);
        box.top = std::min(box.top, y);
      }
  return box;
}

TEST_F(SkinControlTest, CaptionTakesTheBrushOfItsStateAndShiftsWhenPressed) {
  constexpr uint32_t kNormalText = 0xFFFF0000, kHoverText = 0xFF00FF00, kPressedText = 0xFFFFFFFF;
  CSkinButton& button = m_dlg->m_btn1;
  CSurfaceDlg::Place(button, 0, 20, 120, 60);
  button.SetTextFont(L"Liberation Sans", 44.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
  button.SetTextColor(kNormalText);
  button.SetHoverTextColor(kHoverText);
  button.SetPressedTextColor(kPressedText);
  button.SetWindowTextW(L"HIH");
  m_dlg->AddChild(&button);

  struct {
    UINT state;
    uint32_t colour;
  } const rows[] = {{0, kNormalText},
                    {SKIN_STATE_HOVER, kHoverText},
                    {SKIN_STATE_PRESSED, kPressedText},
                    {SKIN_STATE_PRESSED | SKIN_STATE_HOVER, kPressedText},
                    {SKIN_STATE_DISABLED, kNormalText}};
  CaptionBox normalBox;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.state);
    button.m_nState = row.state;
    const Surface s = RenderSurface(*m_dlg);
    const CaptionBox box = FindColour(s, row.colour);
    EXPECT_GT(box.count, 50) << "the caption is drawn in the state's colour";
    for (uint32_t other : {kNormalText, kHoverText, kPressedText}) {
      if (other != row.colour) {
        EXPECT_EQ(FindColour(s, other).count, 0);
      }
    }
    if (row.state == 0) normalBox = box;
    if (row.state == SKIN_STATE_PRESSED) {
      EXPECT_EQ(box.left, normalBox.left + 1);
      EXPECT_EQ(box.top, normalBox.top + 1);
    }
  }

  button.SetWindowTextW(L"");
  button.m_nState = 0;
  EXPECT_EQ(FindColour(RenderSurface(*m_dlg), kNormalText).count, 0) << "no caption without text";
}

TEST_F(SkinControlTest, LabelStretchesItsArtAndDrawsItsCaptionOver) {
  CSkinLabel& label = m_dlg->m_lbl1;
  CSurfaceDlg::Place(label, 20, 20, 50, 30);
  label.SetImage(IDB_TEST_MAGENTA, L"IMG", nullptr, 1.0);  // 20 x 20 art
  m_dlg->AddChild(&label);
  Surface s = RenderSurface(*m_dlg);
  // The resampler softens the outermost pixels; the inside is the art's colour.
  EXPECT_EQ(s.Count(0xFFFF00FF, 22, 22, 68, 48), 46 * 26) << "stretched over the whole rectangle";
  EXPECT_EQ(s.Count(kBackground, 20, 20, 70, 50), 0);
  EXPECT_EQ(s.Count(kBackground, 0, 0, s.width, s.height), s.width * s.height - 50 * 30 - 8 * 8)
      << "nothing outside the label";

  label.SetTextFont(L"Liberation Sans", 28.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
  label.SetTextColor(0xFF00FFFF);
  label.SetWindowTextW(L"HH");
  s = RenderSurface(*m_dlg);
  EXPECT_GT(s.Count(0xFF00FFFF, 20, 20, 70, 50), 20);
  EXPECT_EQ(s.Count(0xFF00FFFF, 0, 0, 20, s.height), 0) << "the caption stays in the label";
}

TEST_F(SkinControlTest, MissingFaceFallsBackToGenericSansSerif) {
  const Gdiplus::FontFamily* pSans = Gdiplus::FontFamily::GenericSansSerif();
  ASSERT_NE(pSans, nullptr) << "the prefix has a sans-serif family";
  wchar_t szSans[LF_FACESIZE] = L"";
  pSans->GetFamilyName(szSans);

  std::unique_ptr<Gdiplus::Font> pFont(
      CSkinCtrl::CreateSkinFont(L"No Such Face Anywhere", 21.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel));
  ASSERT_TRUE(pFont->IsAvailable());
  Gdiplus::FontFamily family;
  pFont->GetFamily(&family);
  wchar_t szName[LF_FACESIZE] = L"";
  family.GetFamilyName(szName);
  EXPECT_STREQ(szName, szSans);
  EXPECT_FLOAT_EQ(pFont->GetSize(), 21.0f);
  EXPECT_EQ(pFont->GetStyle(), Gdiplus::FontStyleBold);
  EXPECT_EQ(pFont->GetUnit(), Gdiplus::UnitPixel);

  std::unique_ptr<Gdiplus::Font> pNamed(
      CSkinCtrl::CreateSkinFont(L"Liberation Serif", 12.0f, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel));
  pNamed->GetFamily(&family);
  family.GetFamilyName(szName);
  EXPECT_STREQ(szName, L"Liberation Serif") << "an installed face is used as named";

  // And the fallback font draws: a caption in a face that does not exist.
  CSkinLabel& label = m_dlg->m_lbl1;
  CSurfaceDlg::Place(label, 0, 0, 120, 90);
  label.SetTextFont(L"Segoe WP", 40.0f, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
  label.SetTextColor(0xFFFFFFFF);
  label.SetWindowTextW(L"HH");
  m_dlg->AddChild(&label);
  EXPECT_GT(RenderSurface(*m_dlg).Count(0xFFFFFFFF, 0, 0, 120, 90), 50);
}

TEST_F(SkinControlTest, PressAndReleaseSetAndClearTheStateAndStillClick) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, 0, 0);
  button.m_nState = SKIN_STATE_HOVER;
  button.m_bTracking = TRUE;
  m_dlg->m_nRedraws = 0;
  ::SendMessageW(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(button.m_nState, static_cast<UINT>(SKIN_STATE_HOVER | SKIN_STATE_PRESSED));
  ::SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(button.m_nState, 0u) << "release clears hover and pressed";
  EXPECT_TRUE(button.m_bTracking) << "release does not disarm tracking";
  EXPECT_EQ(m_dlg->m_nRedraws, 2);
  EXPECT_EQ(m_dlg->m_nButton1Clicks, 1) << "the standard button still sends its click";

  // Leave disarms and clears; hover sets.
  ::SendMessageW(button.m_hWnd, WM_MOUSELEAVE, 0, 0);
  EXPECT_FALSE(button.m_bTracking);
  ::SendMessageW(button.m_hWnd, WM_MOUSEHOVER, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(button.m_nState, static_cast<UINT>(SKIN_STATE_HOVER));
}

TEST_F(SkinControlTest, DisabledBitFollowsEnableThroughRedrawRequests) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, 0, 0);
  button.EnableWindow(FALSE);
  EXPECT_EQ(button.m_nState & SKIN_STATE_DISABLED, static_cast<UINT>(SKIN_STATE_DISABLED));
  EXPECT_TRUE(Near(RenderSurface(*m_dlg).At(30, 20), 0xFF7C7C7C, 2)) << "grey without disabled art";
  button.EnableWindow(TRUE);
  EXPECT_EQ(button.m_nState & SKIN_STATE_DISABLED, 0u);
}

// Real pointer input: the platform's hover and leave notifications.
TEST_F(SkinControlTest, HoverTrackingThroughThePlatform) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, 0, 0);
  RECT rc{};
  button.GetWindowRect(&rc);
  ::SetCursorPos(rc.left + 5, rc.top + 5);
  ::SendMessageW(button.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
  EXPECT_TRUE(button.m_bTracking) << "the first move arms tracking";
  EXPECT_EQ(button.m_nState & SKIN_STATE_HOVER, 0u) << "no hover look before the notification";
  for (int i = 0; i < 50 && !(button.m_nState & SKIN_STATE_HOVER); ++i) PumpMessages(10);
  EXPECT_EQ(button.m_nState & SKIN_STATE_HOVER, static_cast<UINT>(SKIN_STATE_HOVER));

  ::SetCursorPos(rc.right + 200, rc.bottom + 200);
  for (int i = 0; i < 50 && button.m_bTracking; ++i) PumpMessages(10);
  EXPECT_FALSE(button.m_bTracking) << "leave disarms tracking";
  EXPECT_EQ(button.m_nState & SKIN_STATE_HOVER, 0u);
}

// A button that loses the mouse while pressed (Alt+Tab, a system dialog
// taking the capture) sends no click, and no longer looks pressed.
TEST_F(SkinControlTest, PressEndsWhenTheButtonLosesTheMouse) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, IDB_TEST_HOVER, IDB_TEST_PRESSED);
  button.m_nState = SKIN_STATE_HOVER;
  button.m_bTracking = TRUE;
  ::SendMessageW(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ASSERT_EQ(::GetCapture(), button.m_hWnd);
  ASSERT_TRUE(Near(RenderSurface(*m_dlg).At(30, 20), kPressedArt, 2));

  m_dlg->m_nRedraws = 0;
  ::SetCapture(m_dlg->m_hWnd);  // someone else takes the mouse
  EXPECT_EQ(button.m_nState & SKIN_STATE_PRESSED, 0u);
  EXPECT_EQ(m_dlg->m_nRedraws, 1) << "the released look is composed at once";
  EXPECT_TRUE(Near(RenderSurface(*m_dlg).At(30, 20), kHoverArt, 2));
  ::ReleaseCapture();
  PumpMessages(20);
  EXPECT_EQ(m_dlg->m_nButton1Clicks, 0);

  // An ordinary release is not composed twice for the capture it ends.
  ::SendMessageW(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  m_dlg->m_nRedraws = 0;
  ::SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(m_dlg->m_nRedraws, 1);
  EXPECT_EQ(m_dlg->m_nButton1Clicks, 1);
}

// The second click of a double-click comes as WM_LBUTTONDBLCLK: it presses
// (and clicks) like the first.
TEST_F(SkinControlTest, DoubleClickPressesLikeAClick) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, IDB_TEST_HOVER, IDB_TEST_PRESSED);
  ::SendMessageW(button.m_hWnd, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  button.m_nState = SKIN_STATE_HOVER;  // the pointer is still over it
  m_dlg->m_nRedraws = 0;
  ::SendMessageW(button.m_hWnd, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  EXPECT_EQ(button.m_nState & SKIN_STATE_PRESSED, static_cast<UINT>(SKIN_STATE_PRESSED));
  EXPECT_EQ(m_dlg->m_nRedraws, 1);
  EXPECT_TRUE(Near(RenderSurface(*m_dlg).At(30, 20), kPressedArt, 2));
  ::SendMessageW(button.m_hWnd, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(button.m_nState & SKIN_STATE_PRESSED, 0u);
  EXPECT_EQ(m_dlg->m_nButton1Clicks, 2);
}

// Keyboard: the focused button shows where Space will land, and Space
// presses it as it does the platform's own buttons.
TEST_F(SkinControlTest, FocusedButtonShowsItAndSpacePressesIt) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, IDB_TEST_HOVER, IDB_TEST_PRESSED);
  button.SetTextColor(0xFFFFFFFF);
  ShowKeyboardCues(m_dlg->m_hWnd);
  ::SetFocus(button.m_hWnd);
  EXPECT_EQ(button.m_nState & SKIN_STATE_FOCUS, static_cast<UINT>(SKIN_STATE_FOCUS));
  EXPECT_TRUE(Near(RenderSurface(*m_dlg).At(30, 20), kNormalArt, 2)) << "focus is not hover";
  EXPECT_EQ(RenderSurface(*m_dlg).At(30, 13), 0xFFFFFFFFu) << "its ring";

  ::SendMessageW(button.m_hWnd, WM_KEYDOWN, VK_SPACE, 0x00390001);
  EXPECT_TRUE(Near(RenderSurface(*m_dlg).At(30, 20), kPressedArt, 2)) << "Space down shows the press";
  EXPECT_EQ(m_dlg->m_nButton1Clicks, 0);
  ::SendMessageW(button.m_hWnd, WM_KEYUP, VK_SPACE, 0xC0390001);
  PumpMessages(20);
  EXPECT_EQ(m_dlg->m_nButton1Clicks, 1) << "Space up clicks";
  EXPECT_TRUE(Near(RenderSurface(*m_dlg).At(30, 20), kNormalArt, 2));

  ::SetFocus(m_dlg->m_btn2.m_hWnd);
  EXPECT_EQ(button.m_nState & SKIN_STATE_FOCUS, 0u);
  EXPECT_TRUE(Near(RenderSurface(*m_dlg).At(30, 20), kNormalArt, 2));
}

// With or without hover art, the focus is a ring of its own inside the
// button, in the colour of the caption its state draws, at both scales: three
// bands in from the edge, a band being a pixel per 38 of the height (two on
// the large window's 76-pixel buttons, one on the small window's). Hover
// alone never draws it.
TEST_F(SkinControlTest, FocusIsARingOfItsOwnAtBothScales) {
  constexpr uint32_t kNormalText = 0xFFFFFFFF, kHoverText = 0xFF00FFFF;
  ShowKeyboardCues(m_dlg->m_hWnd);
  const struct {
    UINT state;
    uint32_t ring;  // 0: none
  } rows[] = {{SKIN_STATE_FOCUS, kNormalText},
              {SKIN_STATE_HOVER, 0},
              {SKIN_STATE_FOCUS | SKIN_STATE_HOVER, kHoverText},
              {0, 0}};
  for (int height : {76, 38}) {
    for (bool allArt : {true, false}) {
      CSkinButton& button = allArt ? ArtButton(IDB_TEST_NORMAL, 0, IDB_TEST_HOVER, IDB_TEST_PRESSED)
                                   : ArtButton(IDB_TEST_NORMAL, 0, 0, 0);
      CSurfaceDlg::Place(button, 4, 4, 110, height);
      button.SetTextColor(kNormalText);
      button.SetHoverTextColor(kHoverText);
      const int band = height / 38, in = 4 + 3 * band, midX = 4 + 55, midY = 4 + height / 2;
      for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "height " << height << (allArt ? ", all art" : ", normal art only")
                                        << ", state " << row.state);
        button.m_nState = row.state;
        const Surface s = RenderSurface(*m_dlg);
        if (!row.ring) {
          for (uint32_t text : {kNormalText, kHoverText}) EXPECT_FALSE(Near(s.At(midX, in), text, 8));
          continue;
        }
        for (int i = 0; i < band; ++i) {
          EXPECT_TRUE(Near(s.At(midX, in + i), row.ring, 8)) << "top band " << std::hex << s.At(midX, in + i);
          EXPECT_TRUE(Near(s.At(in + i, midY), row.ring, 8)) << "left band";
          EXPECT_TRUE(Near(s.At(midX, 4 + height - 1 - 3 * band - i), row.ring, 8)) << "bottom band";
        }
        EXPECT_FALSE(Near(s.At(midX, in - 1), row.ring, 8)) << "clear of the edge";
        EXPECT_FALSE(Near(s.At(midX, in + band), row.ring, 8)) << "one band wide";
        EXPECT_FALSE(Near(s.At(midX, midY), row.ring, 8)) << "a ring, not a fill";
      }
    }
  }
}

// Focus is shown once the keyboard is used, as the platform's own buttons do.
TEST_F(SkinControlTest, NoRingWhileKeyboardCuesAreHidden) {
  CSkinButton& button = ArtButton(IDB_TEST_NORMAL, 0, IDB_TEST_HOVER, IDB_TEST_PRESSED);
  CSurfaceDlg::Place(button, 4, 4, 110, 76);
  button.SetTextColor(0xFFFFFFFF);
  ::SendMessageW(m_dlg->m_hWnd, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);
  PumpMessages(20);
  if (!(::SendMessageW(button.m_hWnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS))
    GTEST_SKIP() << "this platform keeps keyboard cues shown (SPI_GETKEYBOARDCUES on): focus always shows";
  button.m_nState = SKIN_STATE_FOCUS;
  EXPECT_FALSE(Near(RenderSurface(*m_dlg).At(59, 10), 0xFFFFFFFF, 8));
}

}  // namespace
