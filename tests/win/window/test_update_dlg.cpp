// The update dialog's flow, driven with real messages on the real template:
// every outcome's window state and message, the worker hand-over, the busy
// animation, the buttons after the outcome, and what destruction releases.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include <filesystem>
#include <thread>

#include <windows.h>

#include <sddl.h>
#include <winternl.h>

#include "app/run_log.h"
#include "tests/win/controller/iat_patch.h"
#include "ui/localized_text.h"
#include "update/attempt_record.h"
#include "update/image_hash.h"
#include "update/session_guard.h"
#include "update/update_lock.h"
#include "update/update_run.h"
#include "update_dlg_fixture.h"

extern "C" NTSTATUS NTAPI NtCreateSymbolicLinkObject(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES,
                                                     PUNICODE_STRING);

namespace {

// Waits until the window's thread has ticked `count` times (its spinner frame
// changes once a tick), not for a time: a tick takes longer than 100 ms under
// an emulator. 30 s is only the bound of a window that stopped ticking.
void WaitForTicks(UpdateState* state, int count) {
  const DWORD start = ::GetTickCount();
  uint32_t last = *static_cast<volatile uint32_t*>(&state->m_nSpinnerImage);
  while (count > 0 && ::GetTickCount() - start < 30000) {
    const uint32_t now = *static_cast<volatile uint32_t*>(&state->m_nSpinnerImage);
    if (now != last) --count, last = now;
    ::Sleep(5);
  }
}

std::wstring Text(const wchar_t* key) {
  return TestText(key);
}

class UpdateDlgTest : public ::testing::Test {
 protected:
  // As after a restart: nothing handed over since the start.
  void SetUp() override {
    Fake().Reset();
    MarkThisBoot(BootAttempt::kNone);
  }
  void TearDown() override {
    if (m_dlg.m_hWnd) m_dlg.DestroyWindow();
  }
  void Create() {
    ASSERT_TRUE(m_dlg.Create());
    m_hDlg = m_dlg.m_hWnd;
  }
  CUpdateDlg m_dlg;
  HWND m_hDlg = nullptr;
};

TEST_F(UpdateDlgTest, BeforeAnyPressShowsThePrompt) {
  Create();
  EXPECT_TRUE(MatchesState(m_hDlg, kStatePrompt, Text(L"IDS_PROMPT")));
  EXPECT_EQ(m_dlg.GetExitCode(), static_cast<DWORD>(ERROR_CANCELLED));
  EXPECT_EQ(WindowText(m_hDlg), kUpdateDlgTitle);
  EXPECT_NE(m_dlg.m_hAppIcon, nullptr);
  EXPECT_EQ(m_dlg.SendMessageW(WM_GETICON, ICON_BIG), reinterpret_cast<LRESULT>(m_dlg.m_hAppIcon));
  EXPECT_EQ(m_dlg.SendMessageW(WM_GETICON, ICON_SMALL), reinterpret_cast<LRESULT>(m_dlg.m_hAppIcon));
  EXPECT_EQ(Fake().acpiOpenCalls, 0) << "the channel opens on the first press only";
}

// One press of Update, for each outcome of the flow.
struct OutcomeCase {
  const char* name;
  bool acpi;
  bool battery;
  uint32_t status;
  const WindowStateRow* row;
  std::wstring message;
  DWORD exitCode;
  int focus;  // the button the keyboard is on afterwards
};

std::vector<OutcomeCase> OutcomeCases() {
  return {
      {"device missing", false, false, 0, &kStateDeviceMissing, Text(L"IDS_FIND_NO_QMX"),
       ERR_ACPI_DEVICE_MISSING, IDOK},
      {"on battery", true, true, 0, &kStateBattery, Text(L"IDS_PROMPT"), ERROR_CANCELLED, IDC_UPDATE},
      {"success", true, false, 0, &kStateSuccess, Text(L"IDS_SUCCESS"), 0, IDC_SHUTDOWN},
      {"provider failed", true, false, ERR_PROVIDER_FAILED, &kStateFailure, Text(L"IDS_FIND_NO_SW"),
       ERR_PROVIDER_FAILED, IDOK},
      {"downgrade refused", true, false, ERR_DOWNGRADE_REFUSED, &kStateFailure, Text(L"IDS_DOWNGRADE"),
       ERR_DOWNGRADE_REFUSED, IDOK},
      {"image mismatch", true, false, ERR_IMAGE_MISMATCH, &kStateFailure,
       Text(L"IDS_ERROR") + L" (0X10430006)", ERR_IMAGE_MISMATCH, IDOK},
      {"controller not found", true, false, ERR_CONTROLLER_NOT_FOUND, &kStateFailure,
       Text(L"IDS_ERROR") + L" (0X10430002)", ERR_CONTROLLER_NOT_FOUND, IDOK},
      {"provider's own value", true, false, 5, &kStateFailure, Text(L"IDS_ERROR") + L" (0X00000005)", 5,
       IDOK},
  };
}

TEST_F(UpdateDlgTest, EachOutcomeLeavesItsWindowStateAndMessage) {
  for (const OutcomeCase& c : OutcomeCases()) {
    SCOPED_TRACE(c.name);
    Fake().Reset();
    Fake().acpiAvailable = c.acpi;
    Fake().onBattery = c.battery;
    Fake().workerStatus = c.status;
    CUpdateDlg dlg;
    ASSERT_TRUE(dlg.Create());
    Click(dlg.m_hWnd, IDC_UPDATE);
    EXPECT_TRUE(MatchesState(dlg.m_hWnd, *c.row, c.message));
    EXPECT_EQ(dlg.GetExitCode(), c.exitCode);
    HWND hFocus = ::GetDlgItem(dlg.m_hWnd, c.focus);
    EXPECT_EQ(::GetFocus(), hFocus) << "the offered button has the keyboard";
    auto* pFocused = static_cast<CSkinButton*>(CWnd::FromHandlePermanent(hFocus));
    EXPECT_TRUE(pFocused && (pFocused->m_nState & SKIN_STATE_FOCUS)) << "and its focus look";
    const bool workerExpected = c.acpi && !c.battery;
    EXPECT_EQ(Fake().workerRuns, workerExpected ? 1 : 0);
    EXPECT_EQ(Fake().powerQueries, c.acpi ? 1 : 0) << "no power query without the device";
    EXPECT_FALSE(Fake().acpiOpen) << "closed once the attempt is over";
    dlg.DestroyWindow();
  }
}

TEST_F(UpdateDlgTest, RealButtonPressRunsTheWorkerOnItsOwnThreadWithTheSharedState) {
  Create();
  m_dlg.m_state.m_bDowngradable = 1;
  int32_t downgradableSeen = -1;
  Fake().during = [&downgradableSeen](UpdateState* state) { downgradableSeen = state->m_bDowngradable; };
  HWND hUpdate = ::GetDlgItem(m_hDlg, IDC_UPDATE);
  ::SendMessageW(hUpdate, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
  ::SendMessageW(hUpdate, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  EXPECT_EQ(Fake().workerRuns, 1);
  EXPECT_EQ(Fake().workerParam, static_cast<void*>(&m_dlg.m_state));
  EXPECT_NE(Fake().workerThreadId, ::GetCurrentThreadId());
  EXPECT_EQ(downgradableSeen, 1);
  EXPECT_TRUE(MatchesState(m_hDlg, kStateSuccess, Text(L"IDS_SUCCESS")));
}

// What assistive tools are told: the changes of a window's name that the
// platform does not announce itself (a control's text is its client's name).
std::vector<HWND> g_renamed;
void CALLBACK RecordRename(HWINEVENTHOOK, DWORD, HWND hWnd, LONG idObject, LONG idChild, DWORD, DWORD) {
  if (idObject == OBJID_CLIENT && idChild == CHILDID_SELF) g_renamed.push_back(hWnd);
}

// The message says that the update runs and must not be interrupted, and a
// screen reader is told of it as of the outcome that follows.
TEST_F(UpdateDlgTest, WhileTheWorkerRunsTheWindowShowsTheBusyState) {
  Create();
  const HWINEVENTHOOK hHook =
      ::SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, RecordRename,
                        ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hHook, nullptr);
  g_renamed.clear();
  ::testing::AssertionResult during = ::testing::AssertionFailure() << "not sampled";
  HWND hDlg = m_hDlg;
  Fake().during = [&during, hDlg](UpdateState* state) {
    WaitForTicks(state, 2);  // the window's thread is in its wait loop by now
    during = MatchesState(hDlg, kStateRunning, TestText(L"IDS_UPDATING"));
  };
  Fake().workerStatus = ERR_IMAGE_UNUSABLE;
  Click(m_hDlg, IDC_UPDATE);
  PumpMessages(50);
  ::UnhookWinEvent(hHook);
  EXPECT_TRUE(during);
  EXPECT_TRUE(MatchesState(m_hDlg, kStateFailure, Text(L"IDS_ERROR") + L" (0X10430005)"));
  const HWND hMessage = ::GetDlgItem(m_hDlg, IDC_MESSAGE);
  EXPECT_EQ(std::count(g_renamed.begin(), g_renamed.end(), hMessage), 2) << "the busy text, then the outcome";
}

// A close attempt during the write, by each way a person or another program
// has: nothing stops, and a line says why until the outcome replaces it. Each
// comes behind a burst of other keys (typing), which must not hold it up.
TEST_F(UpdateDlgTest, ACloseAttemptDuringTheWriteSaysWhyAndStopsNothing) {
  using Attempt = std::function<void(HWND)>;
  auto post = [](UINT message, WPARAM wParam, LPARAM lParam) -> Attempt {
    return [=](HWND hDlg) { ::PostMessageW(hDlg, message, wParam, lParam); };
  };
  // The pointer's own click: the platform hands a click on a disabled
  // control to the dialog.
  auto clickOn = [](int nId) -> Attempt {
    return [nId](HWND hDlg) {
      RECT rc{};
      ::GetWindowRect(::GetDlgItem(hDlg, nId), &rc);
      ::SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
      INPUT input[2] = {};
      input[0].type = input[1].type = INPUT_MOUSE;
      input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
      input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
      ::SendInput(2, input, sizeof(INPUT));
    };
  };
  const std::wstring kOlderIni =
      L"The Thunderbolt firmware is being updated. Do not interrupt the update: keep "
      L"this window open and the computer switched on until it has finished.";
  const struct {
    const char* what;
    Attempt attempt;
    uint16_t lang = kTestLangEnglish;
  } rows[] = {
      {"Esc", post(WM_KEYDOWN, VK_ESCAPE, 0x00010001)},
      {"Esc with no control focused", post(WM_SYSKEYDOWN, VK_ESCAPE, 0x00010001)},
      {"Alt+F4", post(WM_SYSKEYDOWN, VK_F4, 0x203E0001)},
      {"close", post(WM_CLOSE, 0, 0)},
      {"the system menu's Close", post(WM_SYSCOMMAND, SC_CLOSE, 0)},
      {"Cancel posted", post(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0)},
      {"Exit posted", post(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0)},
      {"a click on the greyed cross", clickOn(IDCANCEL)},
      {"a click on the greyed Exit", clickOn(IDOK)},
      {"Esc, with an Update.ini older than the texts", post(WM_KEYDOWN, VK_ESCAPE, 0x00010001),
       kTestLangLongError},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Fake().Reset();
    CUpdateDlg dlg;
    dlg.m_state.m_wLangId = row.lang;
    ASSERT_TRUE(dlg.Create());
    const bool older = row.lang == kTestLangLongError;
    const std::wstring busy = older ? kOlderIni : Text(L"IDS_UPDATING");
    const std::wstring why =
        older ? L"A Thunderbolt firmware update is in progress. Wait until it has finished."
              : Text(L"IDS_SHUTDOWN_BLOCKED");
    ::testing::AssertionResult before = ::testing::AssertionFailure() << "not sampled";
    ::testing::AssertionResult after = ::testing::AssertionFailure() << "not sampled";
    std::wstring line;
    HWND hDlg = dlg.m_hWnd;
    Fake().during = [&](UpdateState* state) {
      WaitForTicks(state, 1);
      before = MatchesState(hDlg, kStateRunning, busy);
      for (int i = 0; i < 50; ++i) ::PostMessageW(hDlg, WM_KEYDOWN, 'A', 0x401E0001);
      row.attempt(hDlg);
      WaitForTicks(state, 3);
      after = MatchesState(hDlg, kStateRunningRefused, busy);
      line = WindowText(::GetDlgItem(hDlg, IDC_CAUTION));
    };
    Click(hDlg, IDC_UPDATE);
    EXPECT_TRUE(before) << "no line before an attempt";
    EXPECT_TRUE(after);
    EXPECT_EQ(line, why);
    EXPECT_EQ(Fake().workerRuns, 1);
    EXPECT_TRUE(::IsWindowVisible(hDlg));
    EXPECT_TRUE(MatchesState(hDlg, kStateSuccess, older ? L"" : Text(L"IDS_SUCCESS")));
    if (older) {
      EXPECT_EQ(WindowText(::GetDlgItem(hDlg, IDCANCEL)), L"Close");
    }
    dlg.DestroyWindow();
  }
}

TEST_F(UpdateDlgTest, BatteryThenMainsPowerStartsTheUpdateOnTheSecondPress) {
  Create();
  Fake().onBattery = true;
  Click(m_hDlg, IDC_UPDATE);
  EXPECT_TRUE(MatchesState(m_hDlg, kStateBattery, Text(L"IDS_PROMPT")));
  EXPECT_EQ(m_dlg.m_state.m_dwStatus, 0u) << "the status is left alone";
  Fake().onBattery = false;
  Click(m_hDlg, IDC_UPDATE);
  EXPECT_EQ(Fake().workerRuns, 1);
  EXPECT_EQ(Fake().acpiOpenCalls, 2) << "the caution held nothing open";
  EXPECT_TRUE(MatchesState(m_hDlg, kStateSuccess, Text(L"IDS_SUCCESS")));
}

TEST_F(UpdateDlgTest, SpinnerAdvancesOneFramePerTickAndWraps) {
  Create();
  m_dlg.m_state.m_nSpinnerImage = 147;
  std::vector<uint32_t> frames;
  Fake().during = [&frames](UpdateState* state) {
    // Watch the counter the window's thread advances every tick, until four
    // frames were seen: a tick takes longer than 100 ms under an emulator.
    // 30 s is only the bound of a window that stopped ticking.
    const DWORD start = ::GetTickCount();
    uint32_t last = 0;
    while (frames.size() < 4 && ::GetTickCount() - start < 30000) {
      const uint32_t now = *static_cast<volatile uint32_t*>(&state->m_nSpinnerImage);
      if (now != last) frames.push_back(last = now);
      ::Sleep(5);
    }
  };
  Click(m_hDlg, IDC_UPDATE);
  ASSERT_GE(frames.size(), 4u);
  EXPECT_EQ(frames[0], 147u);
  EXPECT_EQ(frames[1], 148u);
  EXPECT_EQ(frames[2], 141u) << "after 148 comes 141";
  EXPECT_EQ(frames[3], 142u);
  // The last frame shown was loaded at the screen class's scale.
  ASSERT_NE(m_dlg.m_picSpinner.m_pImage, nullptr);
  EXPECT_EQ(m_dlg.m_picSpinner.m_pImage->GetWidth(), ExpectedScreenClass() == 1 ? 132u : 66u);
  EXPECT_FALSE(m_dlg.m_picSpinner.m_bVisible);
}

// Where the focus ring of a button lies (see DrawFocusRing): the middle of
// its top and left bands. True when both have `colour`.
bool RingOf(const Surface& s, HWND hButton, uint32_t colour) {
  RECT rc{};
  ::GetWindowRect(hButton, &rc);
  ::MapWindowPoints(nullptr, ::GetParent(hButton), reinterpret_cast<POINT*>(&rc), 2);
  const int band = std::max(1, static_cast<int>(rc.bottom - rc.top) / 38);
  return Near(s.At((rc.left + rc.right) / 2, rc.top + 3 * band), colour, 8) &&
         Near(s.At(rc.left + 3 * band, (rc.top + rc.bottom) / 2), colour, 8);
}

// The pixels of a button's rectangle.
std::vector<uint32_t> PixelsOf(const Surface& s, HWND hButton) {
  RECT rc{};
  ::GetWindowRect(hButton, &rc);
  ::MapWindowPoints(nullptr, ::GetParent(hButton), reinterpret_cast<POINT*>(&rc), 2);
  std::vector<uint32_t> pixels;
  for (int y = rc.top; y < rc.bottom; ++y)
    for (int x = rc.left; x < rc.right; ++x) pixels.push_back(s.At(x, y));
  return pixels;
}

// The success page at this screen class, driven as a person does: Tab and
// the pointer. The focused button carries the ring, the hovered one only its
// hover art, so the two never look alike; and Enter presses the focused one.
TEST_F(UpdateDlgTest, FocusShowsWhichButtonEnterPressesApartFromHover) {
  Create();
  Click(m_hDlg, IDC_UPDATE);
  ASSERT_EQ(m_dlg.GetPhase(), UpdatePhase::kSucceeded);
  HWND hShutdown = m_dlg.m_btnShutdown.m_hWnd, hLater = m_dlg.m_btnLater.m_hWnd;
  ASSERT_EQ(::GetFocus(), hShutdown);
  auto key = [this](WPARAM vk) {
    MSG msg{::GetFocus(), WM_KEYDOWN, vk, 0x00000001, ::GetTickCount(), {}};
    return ::IsDialogMessageW(m_hDlg, &msg);
  };
  auto pointAt = [](CSkinButton& button) {
    RECT rc{};
    button.GetWindowRect(&rc);
    ::SetCursorPos((rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2);
    ::SendMessageW(button.m_hWnd, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    for (int i = 0; i < 100 && !(button.m_nState & SKIN_STATE_HOVER); ++i) PumpMessages(10);
  };
  constexpr uint32_t kLaterCaption = 0xFF464646, kWhite = 0xFFFFFFFF;

  pointAt(m_dlg.m_btnLater);
  // Focus on Shut down (shown once the keyboard is used), pointer on Later.
  ::SendMessageW(m_hDlg, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
  PumpMessages(20);
  const Surface first = RenderSurface(m_dlg);
  EXPECT_TRUE(RingOf(first, hShutdown, kWhite));
  EXPECT_FALSE(RingOf(first, hLater, kWhite));

  // Tab to Later, pointer on Shut down.
  ASSERT_TRUE(key(VK_TAB));
  ASSERT_EQ(::GetFocus(), hLater);
  pointAt(m_dlg.m_btnShutdown);
  ASSERT_EQ(m_dlg.m_btnLater.m_nState & SKIN_STATE_HOVER, 0u);
  const Surface second = RenderSurface(m_dlg);
  EXPECT_TRUE(RingOf(second, hLater, kLaterCaption)) << "the focus is on Later";
  EXPECT_FALSE(RingOf(second, hShutdown, kWhite)) << "the pointer on Shut down shows no ring";
  EXPECT_NE(PixelsOf(first, hShutdown), PixelsOf(second, hShutdown)) << "Shut down focused vs hovered";
  EXPECT_NE(PixelsOf(first, hLater), PixelsOf(second, hLater)) << "Later hovered vs focused";

  ASSERT_TRUE(key(VK_RETURN));
  PumpMessages(50);
  EXPECT_EQ(Fake().powerOffCalls, 0)
      << "Enter pressed Later, under the focus, not Shut down under the pointer";
  EXPECT_FALSE(::IsWindowVisible(m_hDlg)) << "Later closed the window";
}

TEST_F(UpdateDlgTest, ResultTextKeepsTheCodeWholeWhenTheTextIsTooLong) {
  m_dlg.m_state.m_wLangId = kTestLangLongError;
  Create();
  Fake().workerStatus = ERR_IMAGE_MISMATCH;
  Click(m_hDlg, IDC_UPDATE);
  const std::wstring expected = TestLongErrorText().substr(0, 242) + L" (0X10430006)";
  EXPECT_EQ(expected.size(), 255u);
  EXPECT_TRUE(MatchesState(m_hDlg, kStateFailure, expected));
}

// A run without a window goes through the same checks as the Update button;
// on battery only a check-only run goes ahead, since it writes nothing.
TEST(UnattendedRunTest, ChecksThenTheWorkerAndTheOutcome) {
  const struct {
    const char* what;
    bool acpi, battery, checkOnly;
    uint32_t workerStatus;
    TbtStatus expected;
    int workerRuns, powerQueries;
  } cases[] = {
      {"no device", false, false, false, 0, ERR_ACPI_DEVICE_MISSING, 0, 0},
      {"no device, check only", false, true, true, 0, ERR_ACPI_DEVICE_MISSING, 0, 0},
      {"on battery", true, true, false, 0, ERR_ON_BATTERY, 0, 1},
      {"on battery, check only", true, true, true, 0, STATUS_OK, 1, 1},
      {"mains, written", true, false, false, 0, STATUS_OK, 1, 1},
      {"mains, refused", true, false, false, ERR_IMAGE_MISMATCH, ERR_IMAGE_MISMATCH, 1, 1},
      {"check only, refused", true, false, true, ERR_DOWNGRADE_REFUSED, ERR_DOWNGRADE_REFUSED, 1, 1},
      {"the worker out of memory", true, false, false, ERR_OUT_OF_MEMORY, ERR_OUT_OF_MEMORY, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fake().Reset();
    MarkThisBoot(BootAttempt::kNone);
    // What a worker puts on record; the run records only what ended before it.
    AttemptRecord byTheWorker;
    byTheWorker.status = 0xAB;
    byTheWorker.versionBeforeAttempt = 0x20;
    ASSERT_EQ(WriteAttemptRecord(HKEY_LOCAL_MACHINE, kAttemptRecordKey, byTheWorker), ERROR_SUCCESS);
    Fake().acpiAvailable = c.acpi;
    Fake().onBattery = c.battery;
    Fake().workerStatus = c.workerStatus;
    int32_t checkOnlySeen = -1;
    Fake().during = [&checkOnlySeen](UpdateState* state) { checkOnlySeen = state->m_bCheckOnly; };
    UpdateState state;
    state.m_bCheckOnly = c.checkOnly ? 1 : 0;
    EXPECT_EQ(RunUpdateUnattended(state), c.expected);
    EXPECT_EQ(state.m_dwStatus, c.expected);
    EXPECT_EQ(Fake().workerRuns, c.workerRuns);
    EXPECT_EQ(Fake().powerQueries, c.powerQueries);
    if (c.workerRuns) {
      EXPECT_EQ(checkOnlySeen, c.checkOnly ? 1 : 0);
      EXPECT_NE(Fake().workerThreadId, ::GetCurrentThreadId()) << "on a thread of its own";
    }
    EXPECT_FALSE(Fake().acpiOpen) << "the channel is closed at the end";
    EXPECT_EQ(Fake().powerOffCalls, 0) << "a silent run never powers off";
    RecordedAttempt last;
    ASSERT_TRUE(ReadAttemptRecord(HKEY_LOCAL_MACHINE, kAttemptRecordKey, last));
    EXPECT_EQ(last.status, c.workerRuns || c.checkOnly ? 0xABu : c.expected)
        << "recorded once, by whoever ended it";
  }
}

// ---- One update per machine --------------------------------------------

std::vector<std::string> g_log;
void KeepLog(const std::string& event) {
  g_log.push_back(event);
}
bool Logged(const char* part) {
  for (const std::string& line : g_log)
    if (line.find(part) != std::string::npos) return true;
  return false;
}

// The machine's update lock as another run leaves it (held by a thread that
// waits, or taken by a thread that ended without releasing it), or its name
// taken first by a program without administrator rights: with a deny-all
// DACL, or open to all but owned by the user; by an event or a semaphore; or
// by a symbolic link to a mutex made as a run makes the lock, which its maker
// could aim elsewhere for the next run.
class OtherRun {
 public:
  enum Mode { kHolds, kDied, kDenies, kUserOwned, kEvent, kSemaphore, kLink };
  explicit OtherRun(Mode mode) : m_hDone(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (mode == kDenies || mode == kUserOwned || mode == kEvent || mode == kSemaphore) {
      std::wstring sddl = L"D:P";
      if (mode == kUserOwned) sddl = L"O:" + UserSid() + L"D:P(A;;GA;;;WD)";
      PSECURITY_DESCRIPTOR pSd = nullptr;
      ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &pSd, nullptr);
      SECURITY_ATTRIBUTES sa{sizeof(sa), pSd, FALSE};
      if (mode == kEvent) {
        m_hMutex = ::CreateEventW(&sa, TRUE, FALSE, kUpdateLockName);
      } else if (mode == kSemaphore) {
        m_hMutex = ::CreateSemaphoreW(&sa, 0, 1, kUpdateLockName);
      } else {
        m_hMutex = ::CreateMutexW(&sa, FALSE, kUpdateLockName);
      }
      ::LocalFree(pSd);
      return;
    }
    if (mode == kLink) {
      PSECURITY_DESCRIPTOR pSd = nullptr;
      ::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)",
                                                             SDDL_REVISION_1, &pSd, nullptr);
      SECURITY_ATTRIBUTES sa{sizeof(sa), pSd, FALSE};
      m_hTarget = ::CreateMutexW(&sa, FALSE, L"Global\\TbtFwUpdate.Elsewhere");
      ::LocalFree(pSd);
      UNICODE_STRING name, target;
      ::RtlInitUnicodeString(&name, L"\\BaseNamedObjects\\TbtFwUpdate.OneUpdatePerMachine");
      ::RtlInitUnicodeString(&target, L"\\BaseNamedObjects\\TbtFwUpdate.Elsewhere");
      OBJECT_ATTRIBUTES attributes;
      InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
      if (!m_hTarget ||
          !NT_SUCCESS(NtCreateSymbolicLinkObject(&m_hMutex, 0xF0001 /* all access */, &attributes, &target)))
        m_hMutex = nullptr;
      return;
    }
    HANDLE hTaken = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = std::thread([this, mode, hTaken] {
      UpdateLockAcquire(m_hMutex);
      ::SetEvent(hTaken);
      if (mode == kDied) return;  // the handle stays open in m_hMutex: abandoned, not gone
      ::WaitForSingleObject(m_hDone, INFINITE);
      ::ReleaseMutex(m_hMutex);
    });
    ::WaitForSingleObject(hTaken, 5000);
    ::CloseHandle(hTaken);
    if (mode == kDied) m_thread.join();
  }
  ~OtherRun() {
    ::SetEvent(m_hDone);
    if (m_thread.joinable()) m_thread.join();
    if (m_hMutex) ::CloseHandle(m_hMutex);
    if (m_hTarget) ::CloseHandle(m_hTarget);
    ::CloseHandle(m_hDone);
  }
  bool ready() const { return m_hMutex != nullptr; }

 private:
  static std::wstring UserSid() {
    HANDLE hToken = nullptr;
    BYTE buffer[256];
    DWORD size = 0;
    LPWSTR pszSid = nullptr;
    std::wstring sid;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken) &&
        ::GetTokenInformation(hToken, TokenUser, buffer, sizeof buffer, &size) &&
        ::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &pszSid)) {
      sid = pszSid;
      ::LocalFree(pszSid);
    }
    if (hToken) ::CloseHandle(hToken);
    return sid;
  }
  HANDLE m_hDone;
  HANDLE m_hMutex = nullptr;  // or the object, or the link, that holds the name
  HANDLE m_hTarget = nullptr;
  std::thread m_thread;
};

// What was handed over since the computer started decides a press before
// anything reaches the device: after an interrupted or unanswered write, or
// after another image was written, only a restart helps; the same image
// written again is the success it already was.
TEST_F(UpdateDlgTest, AWriteEarlierInThisBootDecidesThePressBeforeTheDevice) {
  wchar_t szExe[MAX_PATH];
  ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
  std::wstring image = szExe;
  image = image.substr(0, image.rfind(L'\\')) + L"\\data\\this-boot.bin";
  const uint8_t bytes[] = {1, 2, 3, 4};
  HANDLE hFile = ::CreateFileW(image.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(hFile, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ::WriteFile(hFile, bytes, sizeof bytes, &written, nullptr);
  ::CloseHandle(hFile);
  const std::string sha = ImageSha256(bytes, sizeof bytes);
  ASSERT_EQ(sha.size(), 64u);
  const struct {
    const char* what;
    BootAttempt attempt;
    std::string sha;
    TbtStatus status;
  } cases[] = {
      {"interrupted", BootAttempt::kInterrupted, sha, ERR_RESTART_REQUIRED},
      {"this image written", BootAttempt::kWritten, sha, STATUS_OK},
      {"another image written", BootAttempt::kWritten, std::string(64, 'a'), ERR_RESTART_REQUIRED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fake().Reset();
    ASSERT_TRUE(MarkThisBoot(c.attempt, c.sha));
    {
      CUpdateDlg dlg;
      ASSERT_TRUE(dlg.Create());
      Click(dlg.m_hWnd, IDC_UPDATE);
      wchar_t szExpected[256] = L"";
      UpdateResultText(c.status, dlg.m_state.m_wLangId, szExpected, 256);
      EXPECT_TRUE(MatchesState(dlg.m_hWnd, c.status ? kStateDeviceMissing : kStateSuccess, szExpected));
      EXPECT_EQ(dlg.GetExitCode(), c.status);
      dlg.DestroyWindow();
    }
    UpdateState state;
    EXPECT_EQ(RunUpdateUnattended(state), c.status);
    EXPECT_EQ(state.m_bAlreadyWritten, c.status ? 0 : 1);
    EXPECT_EQ(Fake().acpiOpenCalls, 0) << "nothing reaches the device";
    EXPECT_EQ(Fake().workerRuns, 0);
    EXPECT_EQ(ReadThisBoot().kind, c.attempt) << "a refusal changes nothing";
  }
  ::DeleteFileW(image.c_str());
  MarkThisBoot(BootAttempt::kNone);
}

TEST_F(UpdateDlgTest, AnotherUpdateOnTheMachineLeavesTheDeviceAlone) {
  const struct {
    const char* what;
    OtherRun::Mode mode;
    TbtStatus refusal;  // STATUS_OK: the run goes ahead
    const char* logged;
  } cases[] = {
      {"held by another run", OtherRun::kHolds, ERR_ALREADY_RUNNING, "held by another run of this tool"},
      {"left by a run that died", OtherRun::kDied, STATUS_OK, "taken over from a run that ended"},
      {"name taken, no access", OtherRun::kDenies, ERR_LOCK_NOT_OURS, "exists but grants this run no access"},
      {"name taken, owned by the user", OtherRun::kUserOwned, ERR_LOCK_NOT_OURS,
       "exists but is owned by S-1-5-21-"},
      // Never called another run: no run of this tool makes anything but its mutex there.
      {"name taken by an event", OtherRun::kEvent, ERR_LOCK_NOT_OURS,
       "held by an object of type Event (owner S-1-5-21-"},
      {"name taken by a semaphore", OtherRun::kSemaphore, ERR_LOCK_NOT_OURS,
       "held by an object of type Semaphore (owner S-1-5-21-"},
      {"name taken by a link to a lock-like mutex", OtherRun::kLink, ERR_LOCK_NOT_OURS,
       "held by an object of type SymbolicLink"},
  };
  SetRunLogSink(KeepLog);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fake().Reset();
    g_log.clear();
    {
      OtherRun other(c.mode);
      ASSERT_TRUE(other.ready());
      CUpdateDlg dlg;
      ASSERT_TRUE(dlg.Create());
      Click(dlg.m_hWnd, IDC_UPDATE);
      EXPECT_TRUE(Logged(c.logged));
      EXPECT_EQ(Fake().workerRuns, c.refusal ? 0 : 1);
      if (!c.refusal) {
        EXPECT_TRUE(MatchesState(dlg.m_hWnd, kStateSuccess, Text(L"IDS_SUCCESS")));
      } else {
        // Only a run of this tool is called another update.
        wchar_t szExpected[256] = L"";
        UpdateResultText(c.refusal, dlg.m_state.m_wLangId, szExpected, 256);
        EXPECT_TRUE(MatchesState(dlg.m_hWnd, kStateDeviceMissing, szExpected));
        EXPECT_EQ(c.refusal == ERR_ALREADY_RUNNING, std::wstring(szExpected) == Text(L"IDS_BUSY"));
        EXPECT_EQ(dlg.GetExitCode(), c.refusal);
        EXPECT_EQ(Fake().acpiOpenCalls, 0) << "nothing reaches the device";
        EXPECT_EQ(Fake().powerQueries, 0);
        UpdateState state;
        EXPECT_EQ(RunUpdateUnattended(state), c.refusal);
        EXPECT_EQ(Fake().acpiOpenCalls, 0);
        EXPECT_EQ(Fake().workerRuns, 0);
      }
      dlg.DestroyWindow();
    }
  }
  SetRunLogSink(nullptr);
}

// The lock is held exactly while the device is in use, and never by a
// window waiting at its prompt or its caution.
TEST_F(UpdateDlgTest, TheLockIsHeldFromThePressUntilTheChannelIsClosed) {
  Create();
  auto heldElsewhere = [] {
    HANDLE hLock = nullptr;
    UpdateLockResult result = UpdateLockResult::kBusy;
    std::thread([&] {
      result = UpdateLockAcquire(hLock);
      UpdateLockRelease(hLock);
    }).join();
    return result == UpdateLockResult::kBusy;
  };
  EXPECT_FALSE(heldElsewhere()) << "at the prompt";
  Fake().onBattery = true;
  Click(m_hDlg, IDC_UPDATE);
  EXPECT_FALSE(heldElsewhere()) << "at the caution";
  Fake().onBattery = false;
  bool heldDuring = false, openDuring = false;
  Fake().during = [&](UpdateState*) {
    heldDuring = heldElsewhere();
    openDuring = Fake().acpiOpen;
  };
  Click(m_hDlg, IDC_UPDATE);
  EXPECT_TRUE(heldDuring);
  EXPECT_TRUE(openDuring);
  EXPECT_FALSE(Fake().acpiOpen);
  EXPECT_FALSE(heldElsewhere()) << "after the outcome";
}

// ---- Nothing interrupts the write ---------------------------------------

std::vector<std::wstring> g_reasons;
std::vector<EXECUTION_STATE> g_execStates;
BOOL WINAPI RecordBlockReason(HWND, LPCWSTR pszReason) {
  g_reasons.push_back(pszReason ? pszReason : L"(null)");
  return TRUE;
}
EXECUTION_STATE WINAPI RecordExecutionState(EXECUTION_STATE state) {
  g_execStates.push_back(state);
  return ES_CONTINUOUS;
}

std::vector<uint32_t> g_sessionExits;
void RecordSessionExit(uint32_t code) {
  g_sessionExits.push_back(code);
}

TEST_F(UpdateDlgTest, LogOffIsRefusedWhileTheWorkerRunsAndOnlyThen) {
  // Wine has no shutdown block reasons, and its execution state cannot be
  // read back: both are watched at the program's imports.
  ImportPatch reason("user32.dll", "ShutdownBlockReasonCreate", reinterpret_cast<void*>(RecordBlockReason));
  ImportPatch awake("kernel32.dll", "SetThreadExecutionState", reinterpret_cast<void*>(RecordExecutionState));
  ASSERT_TRUE(reason.Active() && awake.Active());
  g_reasons.clear();
  g_execStates.clear();
  g_log.clear();
  g_sessionExits.clear();
  SetRunLogSink(KeepLog);
  SessionGuardSetExit(RecordSessionExit);
  m_dlg.m_state.m_wLangId = kTestLangJapanese;
  Create();
  EXPECT_EQ(::SendMessageW(m_hDlg, WM_QUERYENDSESSION, 0, 0), TRUE) << "at the prompt";
  LRESULT during = -1;
  int stopsAfterQuery = -1;
  bool bToldAtTheEnd = false;
  std::vector<EXECUTION_STATE> statesDuring;
  HWND hDlg = m_hDlg;
  Fake().workerStatus = STATUS_SESSION_ENDING;
  Fake().during = [&](UpdateState* state) {
    during = ::SendMessageW(hDlg, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
    stopsAfterQuery = state->m_pSessionEnd->Requested();
    statesDuring = g_execStates;
    // The person shuts down anyway: the worker is told, and waited for.
    ::PostMessageW(hDlg, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
    bToldAtTheEnd = state->m_pSessionEnd->WaitFor(5000);
  };
  Click(m_hDlg, IDC_UPDATE);
  EXPECT_EQ(during, FALSE);
  EXPECT_EQ(stopsAfterQuery, 0) << "asked, not yet told";
  EXPECT_TRUE(bToldAtTheEnd) << "the worker is told through the run's own state";
  EXPECT_EQ(g_sessionExits, std::vector<uint32_t>{STATUS_SESSION_ENDING}) << "ends with the worker's code";
  EXPECT_EQ(::SendMessageW(m_hDlg, WM_QUERYENDSESSION, 0, 0), TRUE) << "after the outcome";
  ASSERT_EQ(g_reasons.size(), 1u);
  EXPECT_EQ(g_reasons[0], TestText(L"IDS_SHUTDOWN_BLOCKED", kTestLangJapanese));
  EXPECT_EQ(statesDuring, (std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED}));
  EXPECT_EQ(g_execStates, (std::vector<EXECUTION_STATE>{ES_CONTINUOUS | ES_SYSTEM_REQUIRED, ES_CONTINUOUS}));
  EXPECT_TRUE(Logged("log-off or shutdown requested during the update: refused with the reason shown"));
  EXPECT_TRUE(Logged("the session ends before any write: nothing will be written"));
  EXPECT_TRUE(Logged("the session ends: the update has ended"));
  SetRunLogSink(nullptr);
  SessionGuardSetExit(nullptr);
}

// Who may hold off a session end: a check never, a silent run not at all
// (the request stops it unless its write runs), the window until the end is
// forced; and a session that ends at the prompt ends the run with 1223.
TEST_F(UpdateDlgTest, ASessionEndStopsEveryRunThatHasNotBegunItsWrite) {
  const struct {
    const char* what;
    SessionRun run;
    LPARAM lParam;
    bool handedOver;
    LRESULT answer;
    int stops;
  } cases[] = {
      {"check", SessionRun::kCheck, 0, false, TRUE, 1},
      {"silent, before the write", SessionRun::kWriteHidden, 0, false, TRUE, 1},
      {"silent, during the write", SessionRun::kWriteHidden, 0, true, FALSE, 1},
      {"window, asked", SessionRun::kWriteVisible, ENDSESSION_CLOSEAPP, false, FALSE, 0},
      {"window, forced", SessionRun::kWriteVisible, ENDSESSION_CRITICAL, false, TRUE, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fake().Reset();
    SessionEnd sessionEnd;
    if (c.handedOver) {
      ASSERT_TRUE(sessionEnd.BeginHandOver());
    }
    SessionGuardBegin(nullptr, ::GetCurrentThread(), sessionEnd, nullptr, c.run);
    EXPECT_EQ(SessionGuardOnQueryEndSession(c.lParam), c.answer);
    EXPECT_EQ(sessionEnd.Requested() ? 1 : 0, c.stops);
    SessionGuardEnd();
  }
  g_sessionExits.clear();
  SessionGuardSetExit(RecordSessionExit);
  Create();
  ::SendMessageW(m_hDlg, WM_ENDSESSION, FALSE, 0);
  EXPECT_TRUE(g_sessionExits.empty()) << "the session goes on";
  ::SendMessageW(m_hDlg, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF);
  EXPECT_EQ(g_sessionExits, std::vector<uint32_t>{kExitCancelled});
  SessionGuardSetExit(nullptr);
}

TEST(UpdateResultTextTest, KeysCodesAndCuts) {
  struct {
    TbtStatus status;
    uint16_t lang;
    uint32_t size;
    std::wstring expected;
  } const rows[] = {
      {STATUS_OK, kTestLangEnglish, 256, TestText(L"IDS_SUCCESS")},
      {ERR_PROVIDER_FAILED, kTestLangJapanese, 256, TestText(L"IDS_FIND_NO_SW", kTestLangJapanese)},
      {ERR_DOWNGRADE_REFUSED, kTestLangEnglish, 256, TestText(L"IDS_DOWNGRADE")},
      {0x80041002u, kTestLangEnglish, 256, TestText(L"IDS_ERROR") + L" (0X80041002)"},
      {ERR_IMAGE_TOO_NEW, kTestLangEnglish, 256, TestText(L"IDS_ERROR") + L" (0X1043000B)"},
      {ERR_IMAGE_TOO_NEW, kTestLangEnglish, 16, L"ID (0X1043000B)"},
      {ERR_IMAGE_TOO_NEW, kTestLangEnglish, 14, L" (0X1043000B)"},
      {ERR_IMAGE_TOO_NEW, kTestLangEnglish, 13, L""},  // not even the code fits
      {ERR_IMAGE_TOO_NEW, kTestLangLongError, 256, TestLongErrorText().substr(0, 242) + L" (0X1043000B)"},
      {ERR_ALREADY_RUNNING, kTestLangJapanese, 256, TestText(L"IDS_BUSY", kTestLangJapanese)},
      // A section without the text: the error text and the code instead.
      {ERR_ALREADY_RUNNING, kTestLangLongError, 256, TestLongErrorText().substr(0, 242) + L" (0X1043000E)"},
  };
  for (const auto& row : rows) {
    wchar_t out[256];
    std::fill(std::begin(out), std::end(out), L'#');
    UpdateResultText(row.status, row.lang, out, row.size);
    EXPECT_EQ(std::wstring(out), row.expected) << std::hex << row.status << " size " << std::dec << row.size;
  }
}

DWORD WINAPI NoWork(LPVOID) {
  return 0;
}

// A worker thread that cannot be created: the address space is taken, so no
// thread stack fits.
TEST_F(UpdateDlgTest, WorkerThatCannotStartEndsInOutOfMemoryWithExitOffered) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "needs the 32-bit address space of the shipped program";
  Create();
  std::vector<void*> blocks;
  for (SIZE_T size = SIZE_T{1} << 30; size >= (SIZE_T{64} << 10); size /= 2) {
    while (void* p = ::VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS)) blocks.push_back(p);
  }
  HANDLE hProbe = ::CreateThread(nullptr, 0, &NoWork, nullptr, 0, nullptr);
  const bool threadFailed = hProbe == nullptr;
  if (hProbe) ::CloseHandle(hProbe);
  if (threadFailed) Click(m_hDlg, IDC_UPDATE);
  for (void* p : blocks) ::VirtualFree(p, 0, MEM_RELEASE);
  ASSERT_TRUE(threadFailed) << "the address space could not be exhausted";

  EXPECT_EQ(Fake().workerRuns, 0);
  EXPECT_TRUE(MatchesState(m_hDlg, kStateFailure, Text(L"IDS_ERROR") + L" (0X10430007)"));
  EXPECT_EQ(m_dlg.GetExitCode(), ERR_OUT_OF_MEMORY);
}

TEST_F(UpdateDlgTest, DisplayChangeWithinTheScreenClassOnlyHidesAndShows) {
  Create();
  Fake().workerStatus = ERR_IMAGE_MISMATCH;
  Click(m_hDlg, IDC_UPDATE);
  RECT before{};
  m_dlg.GetWindowRect(&before);
  // A new layout would put the result text back over this.
  m_dlg.m_lblMessage.SetWindowTextW(L"marker");
  EXPECT_EQ(::SendMessageW(m_hDlg, WM_DISPLAYCHANGE, 32, MAKELPARAM(1680, 1050)), 1);
  RECT after{};
  m_dlg.GetWindowRect(&after);
  EXPECT_TRUE(::EqualRect(&before, &after));
  EXPECT_TRUE(::IsWindowVisible(m_hDlg));
  EXPECT_TRUE(MatchesState(m_hDlg, kStateFailure, L"marker")) << "no relayout within the class";
}

TEST_F(UpdateDlgTest, DestroyClosesTheChannelAndReleasesEveryResource) {
  Create();
  Click(m_hDlg, IDC_UPDATE);
  m_dlg.DestroyWindow();
  EXPECT_FALSE(Fake().acpiOpen);
  EXPECT_GE(Fake().acpiCloseCalls, 1);
  for (CSkinButton* p :
       {&m_dlg.m_btnExit, &m_dlg.m_btnClose, &m_dlg.m_btnUpdate, &m_dlg.m_btnShutdown, &m_dlg.m_btnLater}) {
    EXPECT_EQ(p->m_pFont, nullptr);
    EXPECT_EQ(p->m_pImgNormal, nullptr);
    EXPECT_EQ(p->m_pImgHover, nullptr);
    EXPECT_EQ(p->m_pImgPressed, nullptr);
    EXPECT_EQ(p->m_pImgDisabled, nullptr);
  }
  for (CSkinLabel* p : {&m_dlg.m_picBullet, &m_dlg.m_picIllustration, &m_dlg.m_picCautionIcon,
                        &m_dlg.m_lblMessage, &m_dlg.m_lblCaution, &m_dlg.m_picSpinner, &m_dlg.m_lblVersion}) {
    EXPECT_EQ(p->m_pFont, nullptr);
    EXPECT_EQ(p->m_pImage, nullptr);
  }
  EXPECT_EQ(m_dlg.GetBackground(), nullptr);
  EXPECT_EQ(m_dlg.GetChildCount(), 0u);
}

// ---- Modal runs: the buttons offered after the outcome ------------------

TEST(UpdateDlgModalTest, LaterClosesTheWindowAfterSuccess) {
  Fake().Reset();
  CScriptedUpdateDlg dlg;
  dlg.m_script = [](CScriptedUpdateDlg& d) {
    Click(d.m_hWnd, IDC_UPDATE);
    Click(d.m_hWnd, IDC_LATER);
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.GetExitCode(), 0u);
  EXPECT_EQ(Fake().powerOffCalls, 0);
  EXPECT_FALSE(Fake().acpiOpen);
}

TEST(UpdateDlgModalTest, TheKeyboardStartsOnUpdate) {
  Fake().Reset();
  CScriptedUpdateDlg dlg;
  HWND hFocus = nullptr, hUpdate = nullptr;
  dlg.m_script = [&](CScriptedUpdateDlg& d) {
    hFocus = ::GetFocus();
    hUpdate = d.m_btnUpdate.m_hWnd;
    ::PostMessageW(d.m_hWnd, WM_CLOSE, 0, 0);
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_NE(hUpdate, nullptr);
  EXPECT_EQ(hFocus, hUpdate) << "not the close cross, first in the tab order";
}

TEST(UpdateDlgModalTest, ShutDownPowersOffWithTheDialogWindow) {
  Fake().Reset();
  CScriptedUpdateDlg dlg;
  HWND hSeen = nullptr;
  dlg.m_script = [&hSeen](CScriptedUpdateDlg& d) {
    hSeen = d.m_hWnd;
    Click(d.m_hWnd, IDC_UPDATE);
    Click(d.m_hWnd, IDC_SHUTDOWN);
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL) << "the power-off's WM_CLOSE ends the run";
  EXPECT_EQ(Fake().powerOffCalls, 1);
  EXPECT_EQ(Fake().powerOffWindow, hSeen);
}

TEST(UpdateDlgModalTest, ExitEndsTheRunAfterFailure) {
  Fake().Reset();
  Fake().workerStatus = ERR_FAMILY_MISMATCH;
  CScriptedUpdateDlg dlg;
  dlg.m_script = [](CScriptedUpdateDlg& d) {
    Click(d.m_hWnd, IDC_UPDATE);
    Click(d.m_hWnd, IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.GetExitCode(), ERR_FAMILY_MISMATCH);
}

// Whatever arrives while the worker runs (a close, a posted Cancel or Exit, a
// second Update, Shut down), the window stays, one worker runs, and the
// outcome is shown; Update does nothing once an attempt has been made.
TEST(UpdateDlgModalTest, CommandsDuringTheRunChangeNothing) {
  Fake().Reset();
  Fake().workerStatus = ERR_IMAGE_MISMATCH;
  CScriptedUpdateDlg dlg;
  int cancelsDuringRun = -1;
  bool shownAfterRun = false;
  bool queueEmptyAfterRun = false;
  ::testing::AssertionResult after = ::testing::AssertionFailure();
  dlg.m_script = [&](CScriptedUpdateDlg& d) {
    HWND hDlg = d.m_hWnd;
    Fake().during = [hDlg](UpdateState* state) {
      // The first run only: a second one (from a posted Update) fails the
      // count below instead of nesting runs without end.
      if (Fake().workerRuns > 1) return;
      ::PostMessageW(hDlg, WM_CLOSE, 0, 0);
      for (int id : {IDCANCEL, IDOK, IDC_UPDATE, IDC_SHUTDOWN, IDC_UPDATE})
        ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
      WaitForTicks(state, 12);  // every command is dispatched during the run
    };
    Click(hDlg, IDC_UPDATE);
    MSG msg;
    queueEmptyAfterRun = !::PeekMessageW(&msg, hDlg, WM_COMMAND, WM_CLOSE, PM_NOREMOVE);
    cancelsDuringRun = d.m_nCancels;
    shownAfterRun = ::IsWindowVisible(hDlg) != FALSE;  // an ended dialog is hidden at once
    Click(hDlg, IDC_UPDATE);                           // after the outcome
    after = MatchesState(hDlg, kStateFailure, TestText(L"IDS_ERROR") + L" (0X10430006)");
    ::PostMessageW(hDlg, WM_CLOSE, 0, 0);  // now the close cross is enabled again
  };
  EXPECT_EQ(dlg.DoModal(), IDCANCEL) << "neither the posted Exit nor Cancel ended the run";
  EXPECT_TRUE(queueEmptyAfterRun);
  EXPECT_EQ(cancelsDuringRun, 1) << "the posted Cancel arrived and was ignored";
  EXPECT_TRUE(shownAfterRun) << "the window ended during the run";
  EXPECT_EQ(Fake().workerRuns, 1);
  EXPECT_EQ(Fake().powerOffCalls, 0);
  EXPECT_TRUE(after);
  EXPECT_EQ(dlg.GetExitCode(), ERR_IMAGE_MISMATCH);
}

// Esc or Alt+F4 held during the write (a burst of auto-repeated keys), then
// nothing: the keys meet the busy window, which refuses them, and none of them
// (nor a close they lead to) reaches the success page, which stays until
// Later. Early in the write the loop handles them; at its very end they are
// still queued when the page comes.
TEST(UpdateDlgModalTest, KeysHeldDuringTheWriteNeverReachTheNextPage) {
  const struct {
    const char* what;
    UINT message;
    WPARAM key;
    LPARAM lParam;  // repeated, and for F4 with Alt down
    DWORD writeAfter;
  } cases[] = {
      {"Esc held early in the write", WM_KEYDOWN, VK_ESCAPE, 0x40010001, 600},
      {"Esc held as the write ends", WM_KEYDOWN, VK_ESCAPE, 0x40010001, 0},
      {"Alt+F4 held", WM_SYSKEYDOWN, VK_F4, 0x603E0001, 600},
      // What Alt+F4 posts, and a close posted by another program, still queued
      // as the write ends.
      {"SC_CLOSE as the write ends", WM_SYSCOMMAND, SC_CLOSE, 0, 0},
      {"Cancel posted as the write ends", WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Fake().Reset();
    Fake().workerMillis = c.writeAfter;
    CScriptedUpdateDlg dlg;
    bool shownUntilLater = false;
    ::testing::AssertionResult page = ::testing::AssertionFailure() << "the success page was gone";
    dlg.m_script = [&](CScriptedUpdateDlg& d) {
      HWND hDlg = d.m_hWnd;
      Fake().during = [hDlg, &c](UpdateState*) {
        for (int i = 0; i < 100; ++i) ::PostMessageW(hDlg, c.message, c.key, c.lParam);
      };
      Click(hDlg, IDC_UPDATE);
      d.WhenIdle(300, [&](CScriptedUpdateDlg& d2) {
        shownUntilLater = ::IsWindowVisible(d2.m_hWnd) != FALSE;
        page = MatchesState(d2.m_hWnd, kStateSuccess, TestText(L"IDS_SUCCESS"));
        Click(d2.m_hWnd, IDC_LATER);
      });
    };
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(shownUntilLater) << "the window ended before Later";
    EXPECT_TRUE(page);
    EXPECT_EQ(dlg.GetExitCode(), 0u);
    EXPECT_EQ(Fake().powerOffCalls, 0);
  }
}

// Reads and dismisses the message box this process shows. After ten seconds
// without one it closes the process's dialogs, so a test fails, not hangs.
class MessageBoxReader {
 public:
  MessageBoxReader() : m_thread([this] { Run(); }) {}
  ~MessageBoxReader() {
    if (m_thread.joinable()) m_thread.join();
  }
  // The message box's text, once it has been dismissed (empty: none came).
  std::wstring Text() {
    if (m_thread.joinable()) m_thread.join();
    return m_text;
  }

 private:
  static BOOL CALLBACK Visit(HWND hWnd, LPARAM lParam) {
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    wchar_t szClass[16] = L"";
    ::GetClassNameW(hWnd, szClass, 16);
    if (pid == ::GetCurrentProcessId() && std::wstring(szClass) == L"#32770" && ::IsWindowVisible(hWnd))
      reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hWnd);
    return TRUE;
  }
  void Run() {
    for (int i = 0; i < 200; ++i) {
      std::vector<HWND> dialogs;
      ::EnumWindows(&Visit, reinterpret_cast<LPARAM>(&dialogs));
      for (HWND hWnd : dialogs) {
        if (HWND hText = ::GetDlgItem(hWnd, 0xFFFF)) {  // a message box's text
          m_text = WindowText(hText);
          ::PostMessageW(hWnd, WM_COMMAND, IDOK, 0);
          return;
        }
      }
      ::Sleep(50);
    }
    std::vector<HWND> dialogs;
    ::EnumWindows(&Visit, reinterpret_cast<LPARAM>(&dialogs));
    for (HWND hWnd : dialogs) ::PostMessageW(hWnd, WM_CLOSE, 0, 0);
  }
  std::wstring m_text;
  std::thread m_thread;
};

// The window's art without the background: the layout sets art that is not there.
class CNoArtUpdateDlg : public CUpdateDlg {
 protected:
  void LayoutControls() override { SetBackground(4242, L"IMG", nullptr, 1.0); }
};

// A window that cannot be drawn is not run as an invisible modal window: the
// person is told, and the code is the exit code. Nothing reaches the
// controller.
TEST_F(UpdateDlgTest, WindowThatCannotBeDrawnIsReportedAndEndsWithItsCode) {
  {
    SCOPED_TRACE("graphics did not start");
    CUpdateDlg dlg;
    MessageBoxReader reader;
    EXPECT_EQ(dlg.RunModal(false), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(reader.Text(), Text(L"IDS_ERROR") + L" (0X0000045A)");
    EXPECT_EQ(dlg.m_hWnd, nullptr) << "no window at all";
  }
  {
    SCOPED_TRACE("background without pixels");
    CNoArtUpdateDlg dlg;
    MessageBoxReader reader;
    EXPECT_EQ(dlg.RunModal(true), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    EXPECT_EQ(reader.Text(), Text(L"IDS_ERROR") + L" (0X00000714)");
    EXPECT_EQ(dlg.GetExitCode(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
  }
  {
    SCOPED_TRACE("no texts either");
    std::error_code ec;
    std::filesystem::remove(LocalizedTextFile(), ec);
    CUpdateDlg dlg;
    dlg.m_state.m_wLangId = kTestLangJapanese;
    MessageBoxReader reader;
    EXPECT_EQ(dlg.RunModal(false), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    EXPECT_EQ(reader.Text(), L"The update tool cannot show its window (0X0000045A).");
    WriteTestUpdateIni();
  }
  EXPECT_EQ(Fake().acpiOpenCalls, 0);
  EXPECT_EQ(Fake().powerQueries, 0);
  EXPECT_EQ(Fake().workerRuns, 0);
}

}  // namespace
