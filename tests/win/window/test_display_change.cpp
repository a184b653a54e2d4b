// Display changes for real: this program runs in a virtual desktop of its own
// (gui-run.sh names it), where changing the display mode resizes the desktop
// and sends WM_DISPLAYCHANGE to the window. Across the 1920 x 1080 boundary
// the layout runs again; what the update flow has shown stays on screen.
#include <gtest/gtest.h>

#include "update_dlg_fixture.h"

namespace {

bool SetDisplay(DWORD width, DWORD height) {
  DEVMODEW mode{};
  mode.dmSize = sizeof(mode);
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
  return ::ChangeDisplaySettingsExW(nullptr, &mode, nullptr, 0, nullptr) == DISP_CHANGE_SUCCESSFUL;
}

int WindowWidth(HWND hWnd) {
  RECT rc{};
  ::GetWindowRect(hWnd, &rc);
  return rc.right - rc.left;
}

class DisplayChangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake().Reset();
    ASSERT_TRUE(SetDisplay(2560, 1440));
    PumpMessages(50);
    ASSERT_TRUE(m_dlg.Create());
    m_hDlg = m_dlg.m_hWnd;
    ASSERT_EQ(m_dlg.m_state.m_nScreenClass, 1) << "starts on the large screen";
  }
  void TearDown() override {
    if (m_dlg.m_hWnd) m_dlg.DestroyWindow();
    SetDisplay(2560, 1440);
    PumpMessages(50);
  }
  // Switches the display and lets the window handle the change.
  void Switch(DWORD width, DWORD height) {
    ASSERT_TRUE(SetDisplay(width, height));
    PumpMessages(100);
  }
  CUpdateDlg m_dlg;
  HWND m_hDlg = nullptr;
};

TEST_F(DisplayChangeTest, BeforeAnyAttemptTheLayoutRunsAgainAtTheNewClass) {
  EXPECT_EQ(WindowWidth(m_hDlg), 1560);
  Switch(1920, 1080);
  EXPECT_EQ(m_dlg.m_state.m_nScreenClass, 0);
  EXPECT_EQ(WindowWidth(m_hDlg), 780);
  EXPECT_NEAR(m_dlg.m_lblMessage.m_pFont->GetSize(), 16.0f, 1e-4);
  EXPECT_EQ(m_dlg.GetBackground()->GetWidth(), 780u);
  EXPECT_EQ(m_dlg.GetChildCount(), 12u) << "each control registered once";
  EXPECT_TRUE(::IsWindowVisible(m_hDlg));
  EXPECT_TRUE(MatchesState(m_hDlg, kStatePrompt, TestText(L"IDS_PROMPT")));

  // Within the small class nothing is laid out again: a new layout would put
  // the prompt back.
  m_dlg.m_lblMessage.SetWindowTextW(L"marker");
  Switch(1680, 1050);
  EXPECT_EQ(WindowText(m_dlg.m_lblMessage.m_hWnd), L"marker");
  EXPECT_EQ(WindowWidth(m_hDlg), 780);
  EXPECT_TRUE(::IsWindowVisible(m_hDlg));

  Switch(2560, 1440);
  EXPECT_EQ(WindowWidth(m_hDlg), 1560);
  EXPECT_EQ(m_dlg.GetChildCount(), 12u);
}

TEST_F(DisplayChangeTest, CautionShownOnBatteryIsLaidOutAgainBeforeAnyAttempt) {
  Fake().onBattery = true;
  Click(m_hDlg, IDC_UPDATE);
  ASSERT_TRUE(MatchesState(m_hDlg, kStateBattery, TestText(L"IDS_PROMPT")));
  Switch(1920, 1080);
  EXPECT_TRUE(MatchesState(m_hDlg, kStatePrompt, TestText(L"IDS_PROMPT")));
  EXPECT_EQ(m_dlg.GetExitCode(), static_cast<DWORD>(ERROR_CANCELLED));
}

// After an attempt, a new layout keeps its outcome on screen.
struct KeptCase {
  const char* name;
  bool acpi;
  uint32_t status;
  const WindowStateRow* row;
  std::wstring message;
};

TEST_F(DisplayChangeTest, OutcomeOfAnAttemptSurvivesTheLayout) {
  const KeptCase cases[] = {
      {"success", true, 0, &kStateSuccess, TestText(L"IDS_SUCCESS")},
      {"failure", true, ERR_IMAGE_MISMATCH, &kStateFailure, TestText(L"IDS_ERROR") + L" (0X10430006)"},
      {"device missing", false, 0, &kStateDeviceMissing, TestText(L"IDS_FIND_NO_QMX")},
  };
  m_dlg.DestroyWindow();
  for (const KeptCase& c : cases) {
    SCOPED_TRACE(c.name);
    Fake().Reset();
    Fake().acpiAvailable = c.acpi;
    Fake().workerStatus = c.status;
    CUpdateDlg dlg;
    ASSERT_TRUE(dlg.Create());
    Click(dlg.m_hWnd, IDC_UPDATE);
    ASSERT_TRUE(MatchesState(dlg.m_hWnd, *c.row, c.message));
    Switch(1920, 1080);
    EXPECT_EQ(WindowWidth(dlg.m_hWnd), 780);
    EXPECT_TRUE(MatchesState(dlg.m_hWnd, *c.row, c.message));
    Switch(2560, 1440);
    EXPECT_EQ(WindowWidth(dlg.m_hWnd), 1560);
    EXPECT_TRUE(MatchesState(dlg.m_hWnd, *c.row, c.message));
    EXPECT_EQ(dlg.GetChildCount(), 12u);
    dlg.DestroyWindow();
  }
}

TEST_F(DisplayChangeTest, ChangeDuringTheRunKeepsTheBusyStateAndTheOutcome) {
  ::testing::AssertionResult during = ::testing::AssertionFailure() << "not sampled";
  HWND hDlg = m_hDlg;
  int changes = 0;
  Fake().workerStatus = ERR_PORT_CONFIG_MISMATCH;
  Fake().during = [&during, &changes, hDlg](UpdateState* state) {
    ::Sleep(250);
    // The window's thread handles the change in its wait loop. Waits for the
    // state, not for a time: under an emulator on a loaded machine that
    // thread may take seconds, and Wine's broadcast of WM_DISPLAYCHANGE gives
    // up on a window after 2 s (seen once: no change within 30 s); a window
    // that missed it gets another small mode every 5 s. 60 s is only the
    // bound of a hung window.
    static const DWORD kSmall[][2] = {{1920, 1080}, {1680, 1050}};
    for (int i = 0; i < 3000; ++i) {
      if (i % 250 == 0 && SetDisplay(kSmall[changes % 2][0], kSmall[changes % 2][1])) ++changes;
      if (*static_cast<volatile int32_t*>(&state->m_nScreenClass) == 0)
        during = MatchesState(hDlg, kStateRunning, TestText(L"IDS_UPDATING"));
      if (during) break;
      ::Sleep(20);
    }
  };
  Click(m_hDlg, IDC_UPDATE);
  EXPECT_TRUE(during) << changes << " display change(s) made";
  EXPECT_EQ(m_dlg.m_state.m_nScreenClass, 0);
  EXPECT_EQ(m_dlg.m_picSpinner.m_pImage->GetWidth(), 66u) << "frames follow the new class";
  EXPECT_TRUE(MatchesState(m_hDlg, kStateFailure, TestText(L"IDS_ERROR") + L" (0X1043000A)"))
      << "Exit is offered after the run";
}

}  // namespace
