// The layout: its rules (screen class, scale, faces, type sizes) and the real
// layout of the update dialog on this run's display, checked against the
// geometry, art, colours, alignments, fonts and texts it must give.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "ui/layout.h"
#include "update_dlg_fixture.h"

namespace {

TEST(LayoutRulesTest, LargeClassOnlyWhenTheLargeWindowFitsTheWorkArea) {
  struct {
    RECT work;
    int cls;
  } const rows[] = {
      {{0, 0, 1920, 1080}, 0},    {{0, 0, 1680, 1050}, 0},
      {{0, 0, 1366, 728}, 0},     {{0, 0, 1920, 1200}, 0},  // a 1920 x 1200 notebook: 1,240 rows do not fit
      {{0, 0, 1920, 1160}, 0},                              // the same with a taskbar
      {{0, 0, 2560, 1080}, 0},                              // a wide monitor: too low
      {{0, 0, 2560, 1440}, 1},    {{0, 0, 2560, 1400}, 1},  // with a 40-pixel taskbar
      {{0, 0, 1560, 1240}, 1},                              // just fits
      {{0, 0, 1559, 1240}, 0},    {{0, 0, 1560, 1239}, 0},  // one pixel short
      {{100, 40, 1660, 1280}, 1},                           // taskbar at the top and left
      {{0, 0, 1080, 1920}, 0},                              // portrait
  };
  for (const auto& row : rows) {
    EXPECT_EQ(LayoutScreenClass(row.work, kLargeBackgroundWidth, kLargeBackgroundHeight), row.cls)
        << row.work.right - row.work.left << "x" << row.work.bottom - row.work.top;
  }
  const RECT rcWork{0, 0, 2560, 1440};
  EXPECT_EQ(LayoutScreenClass(rcWork, 1560, 1441), 0) << "a frame that makes the window taller counts";
  EXPECT_EQ(LayoutScaleFactor(1), 1.0);
  EXPECT_EQ(LayoutScaleFactor(0), 0.5);
  EXPECT_EQ(LayoutScaled(43, 0.5), 21) << "cut, not rounded";
  EXPECT_EQ(LayoutScaled(1241, 0.5), 620);
  EXPECT_EQ(LayoutScaled(43, 1.0), 43);
}

TEST(LayoutRulesTest, EmSizesCancelTheDpiUpToRounding) {
  struct {
    int points, dpi;
    float em;
  } const rows[] = {
      {24, 96, 32.0f}, {24, 120, 32.0f}, {24, 144, 32.0f},      {24, 192, 32.0f},
      {20, 96, 27.0f}, {20, 120, 26.4f}, {20, 144, 26.666666f}, {20, 192, 26.5f},
      {12, 96, 16.0f}, {12, 120, 16.0f}, {12, 144, 16.0f},      {12, 192, 16.0f},
      {10, 96, 13.0f}, {10, 120, 13.6f}, {10, 144, 13.333333f}, {10, 192, 13.5f},
  };
  for (const auto& row : rows) {
    EXPECT_NEAR(LayoutEmSize(row.points, row.dpi), row.em, 1e-4) << row.points << " pt at " << row.dpi;
  }
  EXPECT_FLOAT_EQ(LayoutEmSize(24, 0), 32.0f) << "a DC without a DPI does not divide by zero";
}

TEST(LayoutRulesTest, FacesFollowTheSystemLanguage) {
  const std::wstring jhengHei = L"\u5FAE\u8EDF\u6B63\u9ED1\u9AD4";
  struct {
    LANGID lang;
    std::wstring button;
    int buttonStyle;
    std::wstring text;
  } const rows[] = {
      {0x0404, jhengHei, 1, jhengHei},
      {0x0804, jhengHei, 1, jhengHei},
      {0x0C04, jhengHei, 1, jhengHei},
      {0x1404, jhengHei, 1, jhengHei},
      {0x7C04, jhengHei, 1, jhengHei},
      {0x0411, L"MS P Gothic", 1, L"MS P Gothic"},
      {0x0409, L"Segoe WP N Semibold", 0, L"Segoe WP"},
      {0x0809, L"Segoe WP N Semibold", 0, L"Segoe WP"},
      {0x0412, L"Segoe WP N Semibold", 0, L"Segoe WP"},
      {0x0000, L"Segoe WP N Semibold", 0, L"Segoe WP"},
  };
  for (const auto& row : rows) {
    const LayoutFaces faces = LayoutFacesFor(row.lang);
    EXPECT_EQ(faces.pszButton, row.button) << std::hex << row.lang;
    EXPECT_EQ(faces.nButtonStyle, row.buttonStyle) << std::hex << row.lang;
    EXPECT_EQ(faces.pszText, row.text) << std::hex << row.lang;
    EXPECT_EQ(faces.nTextStyle, 0) << std::hex << row.lang;
  }
}

// Geometry of each control at scale 1.0, and the same after truncation at 0.5.
struct Geometry {
  int id;
  RECT full;  // x, y, w, h
  RECT half;
};
const Geometry kGeometry[] = {
    {IDC_VERSION, {1410, 194, 214, 100}, {705, 97, 107, 50}},
    {IDCANCEL, {1448, 38, 76, 76}, {724, 19, 38, 38}},
    {IDC_BULLET, {60, 300, 30, 30}, {30, 150, 15, 15}},
    {IDC_ILLUSTRATION, {56, 498, 1448, 568}, {28, 249, 724, 284}},
    {IDC_CAUTION_ICON, {51, 1120, 48, 43}, {25, 560, 24, 21}},  // centred under the bullet
    {IDC_UPDATE, {1136, 1109, 368, 76}, {568, 554, 184, 38}},
    {IDOK, {1136, 1109, 368, 76}, {568, 554, 184, 38}},
    {IDC_MESSAGE, {100, 297, 1400, 180}, {50, 148, 700, 90}},
    {IDC_CAUTION, {100, 1124, 1000, 100}, {50, 562, 500, 50}},  // on the message's column
    {IDC_SPINNER, {712, 658, 132, 132}, {356, 329, 66, 66}},
    {IDC_SHUTDOWN, {466, 1109, 508, 76}, {233, 554, 254, 38}},
    {IDC_LATER, {996, 1109, 508, 76}, {498, 554, 254, 38}},
};

// The system UI language this run was started with (TBT_EXPECT_UI_LANG, hex).
LANGID ExpectedUiLanguage() {
  const char* value = std::getenv("TBT_EXPECT_UI_LANG");
  return static_cast<LANGID>(value ? std::strtoul(value, nullptr, 16) : 0x0409);
}

int ScreenDpi() {
  HDC hdc = ::GetDC(nullptr);
  const int dpi = ::GetDeviceCaps(hdc, LOGPIXELSY);
  ::ReleaseDC(nullptr, hdc);
  return dpi;
}

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake().Reset();
    m_class = ExpectedScreenClass();
    ASSERT_TRUE(m_class == 0 || m_class == 1) << "run with TBT_EXPECT_SCREEN_CLASS";
    m_scale = m_class == 1 ? 1.0 : 0.5;
  }
  void TearDown() override {
    if (m_dlg.m_hWnd) m_dlg.DestroyWindow();
  }
  int m_class = -1;
  double m_scale = 0;
  CUpdateDlg m_dlg;
};

TEST_F(LayoutTest, ScreenClassSetsWindowSizeAndPlacesEveryControl) {
  ASSERT_TRUE(m_dlg.Create());
  EXPECT_EQ(m_dlg.m_state.m_nScreenClass, m_class);

  RECT rcWork{}, rc{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
  m_dlg.GetWindowRect(&rc);
  const int w = m_class ? 1560 : 780, h = m_class ? 1240 : 620;
  const POINT centre = CenterInWorkArea(rcWork, w, h);
  EXPECT_EQ(rc.left, centre.x);
  EXPECT_EQ(rc.top, centre.y);
  EXPECT_EQ(rc.right - rc.left, w);
  EXPECT_EQ(rc.bottom - rc.top, h);
  // The whole window, its title and close cross above all, is on the screen
  // and clear of any taskbar.
  EXPECT_GE(rc.left, rcWork.left);
  EXPECT_GE(rc.top, rcWork.top);
  EXPECT_LE(rc.right, rcWork.right);
  EXPECT_LE(rc.bottom, rcWork.bottom);

  for (const Geometry& g : kGeometry) {
    const RECT& want = m_class ? g.full : g.half;
    RECT got{};
    ::GetWindowRect(::GetDlgItem(m_dlg.m_hWnd, g.id), &got);
    ::MapWindowPoints(nullptr, m_dlg.m_hWnd, reinterpret_cast<POINT*>(&got), 2);
    EXPECT_EQ(got.left, want.left) << "control " << g.id;
    EXPECT_EQ(got.top, want.top) << "control " << g.id;
    EXPECT_EQ(got.right - got.left, want.right) << "control " << g.id;
    EXPECT_EQ(got.bottom - got.top, want.bottom) << "control " << g.id;
  }
}

// A taskbar that takes room (the work area shrinks or moves) is met like a
// display change: the window is centred in the new area, at the class that
// fits there, and back once the room is there again.
TEST_F(LayoutTest, WorkAreaChangeFitsTheWindowIntoTheNewArea) {
  if (m_class != 1) GTEST_SKIP() << "needs a screen where the large window fits";
  ASSERT_TRUE(m_dlg.Create());
  RECT rcWork{};
  ASSERT_TRUE(::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0));
  struct {
    RECT area;  // relative to the screen's own work area
    int cls;
  } const rows[] = {
      {{0, 0, 1900, 1000}, 0},    // too small for the large window
      {{0, 0, 2560, 1240}, 1},    // a 200-pixel taskbar: still large, moved up clear of it
      {{0, 200, 2560, 1440}, 1},  // the same taskbar at the top
      {{0, 0, 1560, 1240}, 1},    // just fits
  };
  for (const auto& row : rows) {
    RECT rcArea = row.area;
    ::OffsetRect(&rcArea, rcWork.left, rcWork.top);
    SCOPED_TRACE(::testing::Message()
                 << rcArea.left << "," << rcArea.top << "-" << rcArea.right << "," << rcArea.bottom);
    // Sent as the system sends it (not every platform broadcasts this one).
    ASSERT_TRUE(::SystemParametersInfoW(SPI_SETWORKAREA, 0, &rcArea, 0));
    m_dlg.SendMessageW(WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
    RECT rcWindow{};
    m_dlg.GetWindowRect(&rcWindow);
    EXPECT_EQ(m_dlg.m_state.m_nScreenClass, row.cls);
    const int w = row.cls ? 1560 : 780, h = row.cls ? 1240 : 620;
    const POINT centre = CenterInWorkArea(rcArea, w, h);
    EXPECT_EQ(rcWindow.left, centre.x);
    EXPECT_EQ(rcWindow.top, centre.y);
    EXPECT_EQ(rcWindow.right - rcWindow.left, w);
    RECT rcInside{};
    ::IntersectRect(&rcInside, &rcWindow, &rcArea);
    EXPECT_TRUE(::EqualRect(&rcInside, &rcWindow)) << "inside the work area";
  }
  ::SystemParametersInfoW(SPI_SETWORKAREA, 0, &rcWork, 0);
  m_dlg.SendMessageW(WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  EXPECT_EQ(m_dlg.m_state.m_nScreenClass, 1) << "and back once the room is there again";
}

TEST_F(LayoutTest, ArtIsLoadedAtTheClassScale) {
  ASSERT_TRUE(m_dlg.Create());
  auto width = [](ResourceImage* p) { return p ? static_cast<int>(p->GetWidth()) : -1; };
  auto scaled = [this](int v) { return LayoutScaled(v, m_scale); };
  EXPECT_EQ(width(m_dlg.GetBackground()), scaled(1560));
  EXPECT_EQ(width(m_dlg.m_btnClose.m_pImgNormal), scaled(76));
  EXPECT_EQ(width(m_dlg.m_btnClose.m_pImgDisabled), scaled(76));
  EXPECT_EQ(width(m_dlg.m_picBullet.m_pImage), scaled(30));
  EXPECT_EQ(width(m_dlg.m_picIllustration.m_pImage), scaled(1448));
  EXPECT_EQ(static_cast<int>(m_dlg.m_picCautionIcon.m_pImage->GetHeight()), scaled(43));
  for (CSkinButton* p : {&m_dlg.m_btnUpdate, &m_dlg.m_btnExit}) {
    EXPECT_EQ(width(p->m_pImgNormal), scaled(368));
    EXPECT_EQ(width(p->m_pImgDisabled), scaled(368));
    EXPECT_EQ(width(p->m_pImgHover), scaled(368));
    EXPECT_EQ(width(p->m_pImgPressed), scaled(368));
  }
  EXPECT_NE(m_dlg.m_btnUpdate.m_pImgNormal, m_dlg.m_btnExit.m_pImgNormal) << "each button owns its art";
  for (CSkinButton* p : {&m_dlg.m_btnShutdown, &m_dlg.m_btnLater}) {
    EXPECT_EQ(width(p->m_pImgNormal), scaled(508));
    EXPECT_EQ(p->m_pImgDisabled, nullptr) << "no disabled art for the wide buttons";
    EXPECT_EQ(width(p->m_pImgHover), scaled(508));
    EXPECT_EQ(width(p->m_pImgPressed), scaled(508));
  }
  EXPECT_EQ(width(m_dlg.m_picSpinner.m_pImage), scaled(132));
}

TEST_F(LayoutTest, RegistersTheTwelveControlsOnceInTableOrder) {
  ASSERT_TRUE(m_dlg.Create());
  CSkinCtrl* const expected[] = {&m_dlg.m_lblVersion,      &m_dlg.m_btnClose,       &m_dlg.m_picBullet,
                                 &m_dlg.m_picIllustration, &m_dlg.m_picCautionIcon, &m_dlg.m_btnUpdate,
                                 &m_dlg.m_btnExit,         &m_dlg.m_lblMessage,     &m_dlg.m_lblCaution,
                                 &m_dlg.m_picSpinner,      &m_dlg.m_btnShutdown,    &m_dlg.m_btnLater};
  ASSERT_EQ(m_dlg.GetChildCount(), 12u);
  EXPECT_EQ(m_dlg.GetChildCapacity(), 13u);
  for (size_t i = 0; i < 12; ++i) {
    EXPECT_EQ(m_dlg.GetChild(i), expected[i]) << i;
    EXPECT_EQ(expected[i]->m_pHost, static_cast<ISkinHost*>(&m_dlg));
  }
  EXPECT_TRUE(MatchesState(m_dlg.m_hWnd, kStatePrompt, TestText(L"IDS_PROMPT", m_dlg.m_state.m_wLangId)));
}

TEST_F(LayoutTest, TextsFollowTheUpdateStateLanguageAndFacesTheSystemLanguage) {
  m_dlg.m_state.m_wLangId = kTestLangJapanese;  // as /LID:411 leaves it
  ASSERT_TRUE(m_dlg.Create());
  struct {
    int id;
    const wchar_t* key;
  } const texts[] = {{IDC_UPDATE, L"IDS_UPDATE"},     {IDOK, L"IDS_EXIT"},
                     {IDC_MESSAGE, L"IDS_PROMPT"},    {IDC_CAUTION, L"IDS_CAUTION"},
                     {IDC_SHUTDOWN, L"IDS_SHUTDOWN"}, {IDC_LATER, L"IDS_SHUTDOWN_LATER"},
                     {IDCANCEL, L"IDS_CLOSE"}};  // the close cross's own name, never drawn
  for (const auto& t : texts) {
    EXPECT_EQ(WindowText(::GetDlgItem(m_dlg.m_hWnd, t.id)), TestText(t.key, kTestLangJapanese)) << t.id;
  }
  EXPECT_EQ(WindowText(m_dlg.m_lblVersion.m_hWnd), L"V1.0.0.10");

  // Faces: chosen by the system's language (this run's), never by /LID.
  const LANGID system = ::GetUserDefaultUILanguage();
  EXPECT_EQ(system, ExpectedUiLanguage());
  // Bold or regular as requested, read from the font's LOGFONT (a face's own
  // weight, such as the stand-in's 500, would make GetStyle() report bold).
  const bool boldButtons = (system & 0x3FF) == 4 || system == 0x0411;
  HDC hdc = ::GetDC(nullptr);
  Gdiplus::Graphics graphics(hdc);
  auto isBold = [&graphics](Gdiplus::Font* pFont) {
    LOGFONTW lf{};
    pFont->GetLogFontW(&graphics, &lf);
    return lf.lfWeight >= FW_BOLD;
  };
  for (CSkinButton* p : {&m_dlg.m_btnUpdate, &m_dlg.m_btnExit, &m_dlg.m_btnShutdown, &m_dlg.m_btnLater}) {
    ASSERT_NE(p->m_pFont, nullptr);
    EXPECT_EQ(isBold(p->m_pFont), boldButtons);
    EXPECT_EQ(p->m_pFont->GetUnit(), Gdiplus::UnitPixel);
  }
  for (CSkinLabel* p : {&m_dlg.m_lblMessage, &m_dlg.m_lblCaution, &m_dlg.m_lblVersion}) {
    EXPECT_FALSE(isBold(p->m_pFont));
    EXPECT_EQ(p->m_pFont->GetUnit(), Gdiplus::UnitPixel);
  }
  ::ReleaseDC(nullptr, hdc);

  // The faces themselves: gui-run.sh stands in WenQuanYi Zen Hei for the
  // Japanese and Chinese faces, listed under its English name on a Japanese
  // system and its Chinese one on a Chinese system; the Segoe faces are
  // missing, so those captions fall back to the generic sans-serif family.
  wchar_t szSans[LF_FACESIZE] = L"";
  Gdiplus::FontFamily::GenericSansSerif()->GetFamilyName(szSans);
  std::wstring expectedFace = szSans;
  if (system == 0x0411) expectedFace = L"WenQuanYi Zen Hei";
  if ((system & 0x3FF) == 4) expectedFace = L"\u6587\u6CC9\u9A5B\u6B63\u9ED1";
  auto familyOf = [](Gdiplus::Font* pFont) {
    Gdiplus::FontFamily family;
    wchar_t sz[LF_FACESIZE] = L"";
    if (pFont->GetFamily(&family) == Gdiplus::Ok) family.GetFamilyName(sz);
    return std::wstring(sz);
  };
  EXPECT_EQ(familyOf(m_dlg.m_btnUpdate.m_pFont), expectedFace);
  EXPECT_EQ(familyOf(m_dlg.m_btnLater.m_pFont), expectedFace);
  EXPECT_EQ(familyOf(m_dlg.m_lblMessage.m_pFont), expectedFace);
  EXPECT_EQ(familyOf(m_dlg.m_lblCaution.m_pFont), expectedFace);
  EXPECT_EQ(familyOf(m_dlg.m_lblVersion.m_pFont), std::wstring(szSans)) << "no Segoe UI here";
}

TEST_F(LayoutTest, TypeSizesFollowTheClassAndTheScreenDpi) {
  ASSERT_TRUE(m_dlg.Create());
  const int dpi = ScreenDpi();
  const char* expectDpi = std::getenv("TBT_EXPECT_DPI");
  EXPECT_EQ(dpi, expectDpi ? std::atoi(expectDpi) : 96);
  // From the table of em sizes: 24 pt is 32 px at every DPI, 12 pt 16 px.
  const float text = m_class ? 32.0f : 16.0f;
  float version = 0;
  switch (dpi) {
    case 96: version = m_class ? 27.0f : 13.0f; break;
    case 120: version = m_class ? 26.4f : 13.6f; break;
    default: FAIL() << "no expected sizes for " << dpi << " dpi";
  }
  for (CSkinButton* p : {&m_dlg.m_btnUpdate, &m_dlg.m_btnExit, &m_dlg.m_btnShutdown, &m_dlg.m_btnLater}) {
    EXPECT_NEAR(p->m_pFont->GetSize(), text, 1e-4);
  }
  EXPECT_NEAR(m_dlg.m_lblMessage.m_pFont->GetSize(), text, 1e-4);
  EXPECT_NEAR(m_dlg.m_lblCaution.m_pFont->GetSize(), text, 1e-4);
  EXPECT_NEAR(m_dlg.m_lblVersion.m_pFont->GetSize(), version, 1e-4);
  // The close cross keeps the construction default.
  EXPECT_NEAR(m_dlg.m_btnClose.m_pFont->GetSize(), 12.0f, 1e-4);
}

Gdiplus::ARGB ColourOf(const Gdiplus::SolidBrush& brush) {
  Gdiplus::Color colour;
  brush.GetColor(&colour);
  return colour.GetValue();
}

TEST_F(LayoutTest, ColoursAndAlignments) {
  ASSERT_TRUE(m_dlg.Create());
  constexpr Gdiplus::ARGB kWhite = 0xFFFFFFFF;
  struct {
    CSkinButton* button;
    Gdiplus::ARGB normal, hover, pressed;
  } const buttons[] = {{&m_dlg.m_btnUpdate, kWhite, kWhite, kWhite},
                       {&m_dlg.m_btnExit, kWhite, kWhite, kWhite},
                       {&m_dlg.m_btnShutdown, kWhite, kWhite, kWhite},
                       {&m_dlg.m_btnLater, 0xFF464646, kWhite, kWhite},
                       // Never drawn as text: the colour of the cross's focus ring.
                       {&m_dlg.m_btnClose, kWhite, kWhite, kWhite}};
  for (const auto& b : buttons) {
    EXPECT_EQ(ColourOf(b.button->m_brNormalText), b.normal);
    EXPECT_EQ(ColourOf(b.button->m_brHoverText), b.hover);
    EXPECT_EQ(ColourOf(b.button->m_brPressedText), b.pressed);
    EXPECT_EQ(b.button->m_format.GetAlignment(), Gdiplus::StringAlignmentCenter);
    EXPECT_EQ(b.button->m_format.GetLineAlignment(), Gdiplus::StringAlignmentCenter);
  }
  struct {
    CSkinLabel* label;
    Gdiplus::ARGB colour;
  } const labels[] = {{&m_dlg.m_lblVersion, 0xFF80DFE6},
                      {&m_dlg.m_lblMessage, 0xFF020202},
                      {&m_dlg.m_lblCaution, 0xFFA40000}};
  for (const auto& l : labels) {
    EXPECT_EQ(ColourOf(l.label->m_brText), l.colour);
    EXPECT_EQ(l.label->m_format.GetAlignment(), Gdiplus::StringAlignmentNear);
    EXPECT_EQ(l.label->m_format.GetLineAlignment(), Gdiplus::StringAlignmentNear);
  }
}

// The composed window at this class: art where the table puts it.
TEST_F(LayoutTest, ComposedSurfaceShowsTheArtOfTheVisibleControls) {
  ASSERT_TRUE(m_dlg.Create());
  const Surface s = RenderSurface(m_dlg);
  ASSERT_EQ(s.width, m_class ? 1560 : 780);
  // The spinner is hidden: its place shows the illustration, not a frame.
  Gdiplus::Bitmap* pIllustration = static_cast<Gdiplus::Bitmap*>(m_dlg.m_picIllustration.m_pImage);
  Gdiplus::Color c;
  const int sx = LayoutScaled(712 + 66 - 56, m_scale), sy = LayoutScaled(658 + 66 - 498, m_scale);
  ASSERT_EQ(pIllustration->GetPixel(sx, sy, &c), Gdiplus::Ok);
  EXPECT_TRUE(Near(s.At(LayoutScaled(712 + 66, m_scale), LayoutScaled(658 + 66, m_scale)), c.GetValue(), 3))
      << std::hex << s.At(LayoutScaled(712 + 66, m_scale), LayoutScaled(658 + 66, m_scale)) << " vs "
      << c.GetValue();
  // The close cross's name is for screen readers: the picture is the same without it.
  ASSERT_FALSE(WindowText(m_dlg.m_btnClose.m_hWnd).empty());
  m_dlg.m_btnClose.SetWindowTextW(L"");
  EXPECT_TRUE(RenderSurface(m_dlg).pixels == s.pixels) << "the close cross's name is drawn";
}

// Every look of the window, composed the fast way (art held premultiplied,
// background copied, 1:1 art blended by GDI), is the picture the
// straightforward drawing gives, to within rounding.
TEST_F(LayoutTest, EveryLookComposesToTheStraightforwardPicture) {
  struct Look {
    const char* name;
    std::function<void(CUpdateDlg&)> enter;
  };
  const double scale = m_scale;
  const Look looks[] = {
      {"prompt", [](CUpdateDlg&) {}},
      {"battery",
       [](CUpdateDlg& d) {
         Fake().onBattery = true;
         Click(d.m_hWnd, IDC_UPDATE);
       }},
      {"busy",  // as the wait loop shows it, a few frames in
       [scale](CUpdateDlg& d) {
         d.m_btnUpdate.ShowWindow(SW_HIDE);
         d.m_picIllustration.ShowWindow(SW_HIDE);
         d.m_btnExit.EnableWindow(FALSE);
         d.m_btnExit.ShowWindow(SW_SHOW);
         d.m_btnClose.EnableWindow(FALSE);
         d.m_picSpinner.SetImage(143, L"IMG", nullptr, scale);
         d.m_picSpinner.ShowWindow(SW_SHOW);
       }},
      {"success", [](CUpdateDlg& d) { Click(d.m_hWnd, IDC_UPDATE); }},
      {"failure",
       [](CUpdateDlg& d) {
         Fake().workerStatus = ERR_IMAGE_MISMATCH;
         Click(d.m_hWnd, IDC_UPDATE);
       }},
  };
  for (const Look& look : looks) {
    SCOPED_TRACE(look.name);
    Fake().Reset();
    CUpdateDlg dlg;
    ASSERT_TRUE(dlg.Create());
    look.enter(dlg);
    const Surface fast = RenderSurface(dlg);
    const Surface plain = RenderStraightforward(dlg);
    ASSERT_EQ(fast.width, m_class ? 1560 : 780);
    ASSERT_EQ(plain.pixels.size(), fast.pixels.size());
    int differing = 0;
    size_t first = 0;
    for (size_t i = 0; i < fast.pixels.size(); ++i) {
      if (!Near(fast.pixels[i], plain.pixels[i], 1) && differing++ == 0) first = i;
    }
    EXPECT_EQ(differing, 0) << "first at (" << first % fast.width << ", " << first / fast.width
                            << "): " << std::hex << fast.pixels[first] << " vs " << plain.pixels[first];
    dlg.DestroyWindow();
  }
}

}  // namespace
