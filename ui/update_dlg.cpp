#include "ui/update_dlg.h"

#include <algorithm>
#include <cwchar>

#include "app/run_log.h"
#include "controller/acpi_channel.h"
#include "controller/power_off.h"
#include "framework/win_app.h"
#include "ui/localized_text.h"
#include "update/session_guard.h"
#include "update/update_lock.h"
#include "update/update_run.h"
#include "update/update_worker.h"

const wchar_t kUpdateDlgTitle[] = L"Vorn Thunderbolt Firmware Update Tool";

namespace {
constexpr UINT kResultChars = 256;
constexpr UINT kFirstSpinnerFrame = 141;
constexpr UINT kLastSpinnerFrame = 148;
constexpr DWORD kTickMs = 100;

// What the window must say even with an Update.ini older than these texts.
constexpr wchar_t kUpdatingFallback[] =
    L"The Thunderbolt firmware is being updated. Do not interrupt the update: keep this window open and the "
    L"computer switched on until it has finished.";
constexpr wchar_t kBlockedFallback[] =
    L"A Thunderbolt firmware update is in progress. Wait until it has finished.";

bool IsEscapeKey(const MSG& msg) {
  return (msg.message == WM_KEYDOWN || msg.message == WM_SYSKEYDOWN) && msg.wParam == VK_ESCAPE;
}
}  // namespace

BEGIN_MESSAGE_MAP(CUpdateDlg, CLayeredDialog)
ON_WM_DESTROY()
ON_WM_CLOSE()
ON_WM_LBUTTONDOWN()
ON_MESSAGE(WM_DISPLAYCHANGE, &CUpdateDlg::OnDisplayChange)
ON_MESSAGE(WM_QUERYENDSESSION, &CUpdateDlg::OnQueryEndSession)
ON_MESSAGE(WM_ENDSESSION, &CUpdateDlg::OnEndSession)
ON_WM_SETTINGCHANGE()
ON_BN_CLICKED(IDC_UPDATE, &CUpdateDlg::OnUpdateClicked)
ON_BN_CLICKED(IDC_SHUTDOWN, &CUpdateDlg::OnShutdownClicked)
ON_BN_CLICKED(IDC_LATER, &CUpdateDlg::OnLaterClicked)
END_MESSAGE_MAP()

CUpdateDlg::CUpdateDlg(CWnd* pParent) : CLayeredDialog(IDD_UPDATE_DIALOG, pParent) {
  m_hAppIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  m_state.m_nScreenClass = -1;
  m_state.m_nSpinnerImage = kFirstSpinnerFrame;
  m_state.m_dwStatus = STATUS_OK;
  m_state.m_bDowngradable = 0;
  m_state.m_wLangId = ::GetUserDefaultUILanguage();
  m_state.m_pSessionEnd = &m_sessionEnd;
}

CUpdateDlg::~CUpdateDlg() = default;

void ReportUndrawableWindow(uint16_t langId, DWORD dwCode) {
  wchar_t szText[kResultChars] = L"";
  LoadLocalizedString(langId, L"IDS_ERROR", szText, kResultChars);
  wchar_t szMessage[kResultChars] = L"";
  if (szText[0] != L'\0') {
    UpdateResultText(dwCode, langId, szMessage, kResultChars);
  } else {
    std::swprintf(szMessage, kResultChars, L"The update tool cannot show its window (0X%08X).",
                  static_cast<unsigned>(dwCode));
  }
  ::MessageBoxW(nullptr, szMessage, kUpdateDlgTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

DWORD CUpdateDlg::RunModal(bool bGraphicsStarted) {
  if (!bGraphicsStarted) {
    ReportUndrawableWindow(m_state.m_wLangId, kExitGraphicsNotStarted);
    return kExitGraphicsNotStarted;
  }
  DoModal();
  if (m_bUndrawable) ReportUndrawableWindow(m_state.m_wLangId, kExitNoWindowArt);
  return GetExitCode();
}

DWORD CUpdateDlg::GetExitCode() const {
  if (m_bUndrawable) return kExitNoWindowArt;
  return m_phase == UpdatePhase::kPrompt ? static_cast<DWORD>(kExitCancelled) : m_state.m_dwStatus;
}

void CUpdateDlg::DoDataExchange(CDataExchange* pDX) {
  CLayeredDialog::DoDataExchange(pDX);
  DDX_Control(pDX, IDCANCEL, m_btnClose);
  DDX_Control(pDX, IDOK, m_btnExit);
  DDX_Control(pDX, IDC_BULLET, m_picBullet);
  DDX_Control(pDX, IDC_ILLUSTRATION, m_picIllustration);
  DDX_Control(pDX, IDC_CAUTION_ICON, m_picCautionIcon);
  DDX_Control(pDX, IDC_UPDATE, m_btnUpdate);
  DDX_Control(pDX, IDC_MESSAGE, m_lblMessage);
  DDX_Control(pDX, IDC_CAUTION, m_lblCaution);
  DDX_Control(pDX, IDC_SPINNER, m_picSpinner);
  DDX_Control(pDX, IDC_SHUTDOWN, m_btnShutdown);
  DDX_Control(pDX, IDC_LATER, m_btnLater);
  DDX_Control(pDX, IDC_VERSION, m_lblVersion);
}

BOOL CUpdateDlg::OnInitDialog() {
  CLayeredDialog::OnInitDialog();
  // A window without pixels could be neither seen nor closed.
  if (!HasSurface()) {
    m_bUndrawable = true;
    EndDialog(IDABORT);
    return TRUE;
  }
  SendMessageW(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hAppIcon));
  SendMessageW(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hAppIcon));
  SetWindowTextW(kUpdateDlgTitle);
  // The keyboard starts on the main action rather than on the close cross,
  // which comes first in the tab order. Posted: the dialog manager gives the
  // focus out once more when it shows and activates the window.
  PostMessageW(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(m_btnUpdate.m_hWnd), TRUE);
  return TRUE;
}

// Exit and the close cross are disabled while the worker runs, but a command
// can still arrive (posted, or a click on a disabled control under some window
// managers): the window must stay up until the outcome is shown, and says why.
void CUpdateDlg::OnOK() {
  if (m_phase == UpdatePhase::kRunning) return RefuseClose();
  CLayeredDialog::OnOK();
}

void CUpdateDlg::OnCancel() {
  if (m_phase == UpdatePhase::kRunning) return RefuseClose();
  CLayeredDialog::OnCancel();
}

// Alt+F4, the task list's Close and any other SC_CLOSE come as WM_CLOSE; the
// dialog manager would only beep while the close cross is disabled.
void CUpdateDlg::OnClose() {
  if (m_phase == UpdatePhase::kRunning) return RefuseClose();
  CLayeredDialog::OnClose();
}

// A click on a disabled control reaches the dialog: on the greyed close cross
// or Exit during the write it is a close attempt, not the start of a drag.
void CUpdateDlg::OnLButtonDown(UINT nFlags, POINT point) {
  if (m_phase == UpdatePhase::kRunning) {
    const HWND hHit = ::ChildWindowFromPointEx(m_hWnd, point, CWP_SKIPINVISIBLE);
    if (hHit && (hHit == m_btnClose.m_hWnd || hHit == m_btnExit.m_hWnd)) return RefuseClose();
  }
  CLayeredDialog::OnLButtonDown(nFlags, point);
}

void CUpdateDlg::RefuseClose() {
  if (m_bCloseRefused) return;  // said once is enough: a held key repeats
  m_bCloseRefused = true;
  wchar_t szLine[kResultChars] = L"";
  LoadLocalizedStringOr(m_state.m_wLangId, L"IDS_SHUTDOWN_BLOCKED", kBlockedFallback, szLine, kResultChars);
  SetLabelText(m_lblCaution, szLine);
  m_picCautionIcon.ShowWindow(SW_SHOW);
  m_lblCaution.ShowWindow(SW_SHOW);
}

// A screen reader reads a label's text as its name; the platform tells it of
// a new window text only for the window itself, not for what it shows.
void CUpdateDlg::SetLabelText(CSkinLabel& label, LPCWSTR pszText) {
  label.SetWindowTextW(pszText);
  ::NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, label.m_hWnd, OBJID_CLIENT, CHILDID_SELF);
}

void CUpdateDlg::ShowBusyState() {
  wchar_t szBusy[kResultChars] = L"";
  LoadLocalizedStringOr(m_state.m_wLangId, L"IDS_UPDATING", kUpdatingFallback, szBusy, kResultChars);
  SetLabelText(m_lblMessage, szBusy);
  m_btnExit.ShowWindow(SW_SHOW);
  m_picSpinner.ShowWindow(SW_SHOW);
  // A new layout hid the line a close attempt brought up: it comes back.
  if (m_bCloseRefused) {
    m_bCloseRefused = false;
    RefuseClose();
  }
}

void CUpdateDlg::OnUpdateClicked() {
  // One procedure per process: the wait loop dispatches queued messages, so a
  // second Update command may arrive while the first run is busy, or after it.
  if (m_phase != UpdatePhase::kPrompt) return;
  m_btnUpdate.EnableWindow(FALSE);
  m_btnClose.EnableWindow(FALSE);
  m_picCautionIcon.ShowWindow(SW_HIDE);
  m_lblCaution.ShowWindow(SW_HIDE);

  // Before anything reaches the device: another run on this machine (or a
  // program holding the lock's name), or an earlier write since the computer
  // started, leaves this window nothing but Exit.
  bool bAlreadyWritten = false;
  if (const TbtStatus refused = UpdateRunBegin(m_hLock, bAlreadyWritten)) {
    m_state.m_dwStatus = refused;
    UpdateResultText(m_state.m_dwStatus, m_state.m_wLangId, m_szResult, kResultChars);
    SetLabelText(m_lblMessage, m_szResult);
    m_btnUpdate.ShowWindow(SW_HIDE);
    m_picIllustration.ShowWindow(SW_HIDE);
    m_btnExit.ShowWindow(SW_SHOW);
    m_btnClose.EnableWindow(TRUE);
    m_phase = UpdatePhase::kFailed;
    return;
  }
  // This very image was written since the computer started: its success,
  // and its offer to shut down, stand; nothing is written twice.
  if (bAlreadyWritten) {
    m_btnUpdate.ShowWindow(SW_HIDE);
    m_picIllustration.ShowWindow(SW_HIDE);
    m_state.m_dwStatus = STATUS_OK;
    m_state.m_bAlreadyWritten = 1;
    ShowOutcome();
    return;
  }

  const UpdatePrecheck precheck = CheckUpdatePreconditions();
  if (precheck != UpdatePrecheck::kReady) EndAttempt();
  if (precheck == UpdatePrecheck::kDeviceMissing) {
    LoadLocalizedString(m_state.m_wLangId, L"IDS_FIND_NO_QMX", m_szResult, kResultChars);
    SetLabelText(m_lblMessage, m_szResult);
    m_btnUpdate.ShowWindow(SW_HIDE);
    m_picIllustration.ShowWindow(SW_HIDE);
    m_btnExit.ShowWindow(SW_SHOW);
    m_btnClose.EnableWindow(TRUE);
    m_state.m_dwStatus = ERR_ACPI_DEVICE_MISSING;
    UpdateRunRecordRefusal(m_state.m_dwStatus, false);
    m_phase = UpdatePhase::kDeviceMissing;
    FocusOffered(m_btnExit);
    return;
  }

  if (precheck == UpdatePrecheck::kOnBattery) {
    m_picCautionIcon.ShowWindow(SW_SHOW);
    m_lblCaution.ShowWindow(SW_SHOW);
    m_btnUpdate.EnableWindow(TRUE);
    m_btnClose.EnableWindow(TRUE);
    FocusOffered(m_btnUpdate);
    return;
  }

  m_btnUpdate.ShowWindow(SW_HIDE);
  m_picIllustration.ShowWindow(SW_HIDE);
  // Shown disabled while the worker runs.
  m_btnExit.EnableWindow(FALSE);
  m_btnExit.ShowWindow(SW_SHOW);

  // Without a worker there is no result but our own: the thread's memory.
  if (!RunWorker()) {
    m_state.m_dwStatus = ERR_OUT_OF_MEMORY;
    UpdateRunRecordRefusal(m_state.m_dwStatus, false);
  }
  EndAttempt();
  ShowOutcome();
  DropInputFromTheBusyPhase();
}

void CUpdateDlg::ShowOutcome() {
  UpdateResultText(m_state.m_dwStatus, m_state.m_wLangId, m_szResult, kResultChars);
  SetLabelText(m_lblMessage, m_szResult);
  // The outcome answers any close attempt.
  m_bCloseRefused = false;
  m_picCautionIcon.ShowWindow(SW_HIDE);
  m_lblCaution.ShowWindow(SW_HIDE);

  m_btnExit.EnableWindow(TRUE);
  m_btnClose.EnableWindow(TRUE);
  if (m_state.m_dwStatus != STATUS_OK) {
    m_phase = UpdatePhase::kFailed;
    FocusOffered(m_btnExit);
    return;
  }
  m_btnExit.ShowWindow(SW_HIDE);
  m_btnShutdown.ShowWindow(SW_SHOW);
  m_btnLater.ShowWindow(SW_SHOW);
  m_phase = UpdatePhase::kSucceeded;
  FocusOffered(m_btnShutdown);
}

// Disabling Update took the focus away, and the Update button is hidden after
// a run: without this the keyboard would act on nothing visible.
void CUpdateDlg::FocusOffered(CSkinButton& button) {
  SendMessageW(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button.m_hWnd), TRUE);
}

void CUpdateDlg::EndAttempt() {
  AcpiClose();
  UpdateLockRelease(m_hLock);
}

bool CUpdateDlg::RunWorker() {
  m_phase = UpdatePhase::kRunning;
  // Started suspended: the guard is in place before the worker's first step.
  HANDLE hThread = ::CreateThread(nullptr, 0, UpdateWorker, &m_state, CREATE_SUSPENDED, nullptr);
  if (!hThread) return false;
  wchar_t szReason[kResultChars] = L"";
  LoadLocalizedStringOr(m_state.m_wLangId, L"IDS_SHUTDOWN_BLOCKED", kBlockedFallback, szReason, kResultChars);
  SessionGuardBegin(m_hWnd, hThread, m_sessionEnd, szReason, SessionRun::kWriteVisible);
  ::ResumeThread(hThread);

  ShowBusyState();
  bool bQuit = false;
  WPARAM nQuitCode = 0;
  while (::WaitForSingleObject(hThread, kTickMs) == WAIT_TIMEOUT) {
    const double dScale = m_state.m_nScreenClass != 0 ? 1.0 : 0.5;
    m_picSpinner.SetImage(m_state.m_nSpinnerImage, L"IMG", AfxGetResourceHandle(), dScale);
    if (++m_state.m_nSpinnerImage > kLastSpinnerFrame) m_state.m_nSpinnerImage = kFirstSpinnerFrame;
    Compose();
    DispatchWhileBusy(bQuit, nQuitCode);
  }
  SessionGuardEnd();
  ::CloseHandle(hThread);
  m_picSpinner.ShowWindow(SW_HIDE);
  if (bQuit) ::PostQuitMessage(static_cast<int>(nQuitCode));
  return true;
}

// Every message queued, not one a tick: a held key comes thirty times a
// second, and what the loop left would be handled by the page that follows,
// which the person never meant to act on. Bounded by the tick, so that no
// flood of input stops the spinner.
void CUpdateDlg::DispatchWhileBusy(bool& bQuit, WPARAM& nQuitCode) {
  const DWORD dwStart = ::GetTickCount();
  MSG msg;
  while (::GetTickCount() - dwStart < kTickMs && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not ours to take: handed back once the worker is done.
      bQuit = true;
      nQuitCode = msg.wParam;
    } else if (IsEscapeKey(msg)) {
      // No control holds the focus while the worker runs, so the dialog
      // manager never sees Esc (the window gets it as a system key).
      RefuseClose();
    } else {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

// Keys, clicks and the commands they post (Alt+F4 posts SC_CLOSE), given in
// the last tick of the write or while its outcome was being put up, were meant
// for the busy window, which refuses them: they are dropped, not handed to the
// page that follows. Whatever came earlier was handled, and refused, in its
// tick; nothing of ours posts these while the worker runs.
void CUpdateDlg::DropInputFromTheBusyPhase() {
  static const UINT kRanges[][2] = {{WM_KEYFIRST, WM_KEYLAST},
                                    {WM_MOUSEFIRST, WM_MOUSELAST},
                                    {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},
                                    {WM_CLOSE, WM_CLOSE},
                                    {WM_COMMAND, WM_SYSCOMMAND}};
  MSG msg;
  for (const auto& range : kRanges) {
    while (::PeekMessageW(&msg, nullptr, range[0], range[1], PM_REMOVE)) {
    }
  }
}

void CUpdateDlg::OnShutdownClicked() {
  // Only a finished, successful write may be followed by a power-off.
  if (m_phase != UpdatePhase::kSucceeded) return;
  PowerOffMachine(m_hWnd);
}

void CUpdateDlg::OnLaterClicked() {
  PostMessageW(WM_CLOSE);
}

// While the worker runs the window asks, with its reason, that the session
// wait; at any other time it does not stand in the way.
LRESULT CUpdateDlg::OnQueryEndSession(WPARAM, LPARAM lParam) {
  return SessionGuardOnQueryEndSession(lParam);
}

// The session ends anyway: a write not yet begun never begins, and the run
// ends with its own code before Windows ends it with another; at the prompt
// that is the code of a window closed before any attempt.
LRESULT CUpdateDlg::OnEndSession(WPARAM wParam, LPARAM) {
  if (!SessionGuardOnEndSession(static_cast<BOOL>(wParam))) return 0;
  if (m_phase == UpdatePhase::kPrompt) RunLog("the session ends at the prompt: nothing was done");
  EndAttempt();
  SessionGuardExit(GetExitCode());
  return 0;
}

void CUpdateDlg::OnDestroy() {
  AcpiClose();
  UpdateLockRelease(m_hLock);
  m_btnExit.ReleaseResources();
  m_btnClose.ReleaseResources();
  m_picBullet.ReleaseResources();
  m_picIllustration.ReleaseResources();
  m_picCautionIcon.ReleaseResources();
  m_btnUpdate.ReleaseResources();
  m_lblMessage.ReleaseResources();
  m_lblCaution.ReleaseResources();
  m_picSpinner.ReleaseResources();
  m_lblVersion.ReleaseResources();
  m_btnShutdown.ReleaseResources();
  m_btnLater.ReleaseResources();
  CLayeredDialog::ReleaseResources();
  Default();
}

LRESULT CUpdateDlg::OnDisplayChange(WPARAM, LPARAM) {
  ShowWindow(SW_HIDE);
  LayoutControls();
  ShowWindow(SW_SHOW);
  return 1;
}

// A taskbar moved or resized changes the room the window has, as a display
// change does.
void CUpdateDlg::OnSettingChange(UINT uFlags, LPCWSTR) {
  Default();
  if (uFlags == SPI_SETWORKAREA) OnDisplayChange(0, 0);
}

void CUpdateDlg::RestorePhaseState() {
  switch (m_phase) {
    case UpdatePhase::kPrompt: break;
    case UpdatePhase::kRunning: ShowBusyState(); break;
    case UpdatePhase::kDeviceMissing:
    case UpdatePhase::kFailed:
      SetLabelText(m_lblMessage, m_szResult);
      m_btnExit.ShowWindow(SW_SHOW);
      break;
    case UpdatePhase::kSucceeded:
      SetLabelText(m_lblMessage, m_szResult);
      m_btnShutdown.ShowWindow(SW_SHOW);
      m_btnLater.ShowWindow(SW_SHOW);
      break;
  }
}
