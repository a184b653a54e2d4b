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
}  // namespace

BEGIN_MESSAGE_MAP(CUpdateDlg, CLayeredDialog)
ON_WM_DESTROY()
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
// managers): the window must stay up until the outcome is shown.
void CUpdateDlg::OnOK() {
  if (m_phase == UpdatePhase::kRunning) return;
  CLayeredDialog::OnOK();
}

void CUpdateDlg::OnCancel() {
  if (m_phase == UpdatePhase::kRunning) return;
  CLayeredDialog::OnCancel();
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
    m_lblMessage.SetWindowTextW(m_szResult);
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
    m_lblMessage.SetWindowTextW(m_szResult);
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
}

void CUpdateDlg::ShowOutcome() {
  UpdateResultText(m_state.m_dwStatus, m_state.m_wLangId, m_szResult, kResultChars);
  m_lblMessage.SetWindowTextW(m_szResult);

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
  LoadLocalizedString(m_state.m_wLangId, L"IDS_SHUTDOWN_BLOCKED", szReason, kResultChars);
  SessionGuardBegin(m_hWnd, hThread, m_sessionEnd, szReason, SessionRun::kWriteVisible);
  ::ResumeThread(hThread);

  m_picSpinner.ShowWindow(SW_SHOW);
  bool bQuit = false;
  WPARAM nQuitCode = 0;
  while (::WaitForSingleObject(hThread, 100) == WAIT_TIMEOUT) {
    const double dScale = m_state.m_nScreenClass != 0 ? 1.0 : 0.5;
    m_picSpinner.SetImage(m_state.m_nSpinnerImage, L"IMG", AfxGetResourceHandle(), dScale);
    if (++m_state.m_nSpinnerImage > kLastSpinnerFrame) m_state.m_nSpinnerImage = kFirstSpinnerFrame;
    Compose();

    MSG msg;
    if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        // Not ours to take: handed back once the worker is done.
        bQuit = true;
        nQuitCode = msg.wParam;
      } else {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
      }
    }
  }
  SessionGuardEnd();
  ::CloseHandle(hThread);
  m_picSpinner.ShowWindow(SW_HIDE);
  if (bQuit) ::PostQuitMessage(static_cast<int>(nQuitCode));
  return true;
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
    case UpdatePhase::kRunning:
      m_btnExit.ShowWindow(SW_SHOW);
      m_picSpinner.ShowWindow(SW_SHOW);
      break;
    case UpdatePhase::kDeviceMissing:
    case UpdatePhase::kFailed:
      m_lblMessage.SetWindowTextW(m_szResult);
      m_btnExit.ShowWindow(SW_SHOW);
      break;
    case UpdatePhase::kSucceeded:
      m_lblMessage.SetWindowTextW(m_szResult);
      m_btnShutdown.ShowWindow(SW_SHOW);
      m_btnLater.ShowWindow(SW_SHOW);
      break;
  }
}
