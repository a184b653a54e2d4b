#include "update_dlg_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
constexpr UINT WM_TEST_SCRIPT = WM_APP + 40;
constexpr UINT_PTR kIdleTimer = 40;

bool Matches(HWND hDlg, int nId, const char* code, std::string* why) {
  const CtrlState state = StateOf(hDlg, nId);
  const bool wantVisible = code[0] == 'V';
  bool ok = state.visible == wantVisible;
  if (code[1] == 'E') ok = ok && state.enabled;
  if (code[1] == 'd') ok = ok && !state.enabled;
  if (!ok) {
    *why += " control " + std::to_string(nId) + " is " + (state.visible ? "V" : "h") +
            (state.enabled ? "E" : "d") + ", expected " + code + ";";
  }
  return ok;
}
}  // namespace

const WindowStateRow kStatePrompt = {"VE", "h", "VE", "V", "h", "h", "h"};
const WindowStateRow kStateDeviceMissing = {"hd", "VE", "VE", "h", "h", "h", "h"};
const WindowStateRow kStateBattery = {"VE", "h", "VE", "V", "V", "h", "h"};
const WindowStateRow kStateRunning = {"h", "Vd", "Vd", "h", "h", "V", "h"};
const WindowStateRow kStateRunningRefused = {"h", "Vd", "Vd", "h", "V", "V", "h"};
const WindowStateRow kStateSuccess = {"h", "hE", "VE", "h", "h", "h", "VE"};
const WindowStateRow kStateFailure = {"h", "VE", "VE", "h", "h", "h", "h"};

::testing::AssertionResult MatchesState(HWND hDlg, const WindowStateRow& row, const std::wstring& message) {
  std::string why;
  bool ok = true;
  ok &= Matches(hDlg, IDC_UPDATE, row.update, &why);
  ok &= Matches(hDlg, IDOK, row.exit, &why);
  ok &= Matches(hDlg, IDCANCEL, row.close, &why);
  ok &= Matches(hDlg, IDC_ILLUSTRATION, row.illustration, &why);
  ok &= Matches(hDlg, IDC_CAUTION_ICON, row.caution, &why);
  ok &= Matches(hDlg, IDC_CAUTION, row.caution, &why);
  ok &= Matches(hDlg, IDC_SPINNER, row.spinner, &why);
  ok &= Matches(hDlg, IDC_SHUTDOWN, row.shutdownLater, &why);
  ok &= Matches(hDlg, IDC_LATER, row.shutdownLater, &why);
  ok &= Matches(hDlg, IDC_BULLET, "V", &why);
  ok &= Matches(hDlg, IDC_MESSAGE, "V", &why);
  ok &= Matches(hDlg, IDC_VERSION, "V", &why);
  const std::wstring shown = WindowText(::GetDlgItem(hDlg, IDC_MESSAGE));
  if (shown != message) {
    ok = false;
    why += " message is \"";
    for (wchar_t ch : shown) {
      char sz[8];
      if (ch >= 0x20 && ch < 0x7F) {
        why += static_cast<char>(ch);
      } else {
        std::snprintf(sz, sizeof(sz), "\\u%04X", static_cast<unsigned>(ch));
        why += sz;
      }
    }
    why += "\"";
  }
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << why;
}

void Click(HWND hDlg, int nId) {
  ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, nId)));
}

int ExpectedScreenClass() {
  const char* value = std::getenv("TBT_EXPECT_SCREEN_CLASS");
  return value ? std::atoi(value) : -1;
}

BEGIN_MESSAGE_MAP(CScriptedUpdateDlg, CUpdateDlg)
ON_MESSAGE(WM_TEST_SCRIPT, &CScriptedUpdateDlg::OnScript)
ON_MESSAGE(WM_TIMER, &CScriptedUpdateDlg::OnTimer)
END_MESSAGE_MAP()

BOOL CScriptedUpdateDlg::OnInitDialog() {
  CUpdateDlg::OnInitDialog();
  PostMessageW(WM_TEST_SCRIPT);
  return TRUE;
}

LRESULT CScriptedUpdateDlg::OnScript(WPARAM, LPARAM) {
  if (m_script) m_script(*this);
  return 0;
}

void CScriptedUpdateDlg::WhenIdle(DWORD ms, std::function<void(CScriptedUpdateDlg&)> step) {
  m_whenIdle = std::move(step);
  ::SetTimer(m_hWnd, kIdleTimer, ms, nullptr);
}

LRESULT CScriptedUpdateDlg::OnTimer(WPARAM wParam, LPARAM) {
  if (wParam != kIdleTimer) return Default();
  ::KillTimer(m_hWnd, kIdleTimer);
  auto step = std::move(m_whenIdle);
  if (step) step(*this);
  return 0;
}
