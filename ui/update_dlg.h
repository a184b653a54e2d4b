// CUpdateDlg: the program's one window and the controller of the update flow
// on the window's thread. The layered base composes it from art; its twelve
// controls are skinned buttons and labels placed by LayoutControls.
#pragma once

#include <cstdint>

#include "app/exit_codes.h"  // kExitGraphicsNotStarted, kExitNoWindowArt
#include "app/status.h"
#include "app/update_state.h"
#include "res/resource.h"
#include "ui/layered_dialog.h"
#include "ui/result_text.h"
#include "ui/skin_button.h"
#include "ui/skin_label.h"
#include "update/session_end.h"

// The title the window carries in the task list.
extern const wchar_t kUpdateDlgTitle[];

// Tells the person in a plain system message box that the window cannot be
// shown: the IDS_ERROR text with the code, or an English sentence when there
// is no text.
void ReportUndrawableWindow(uint16_t langId, DWORD dwCode);

// Where the update flow stands; a re-layout keeps everything but the prompt.
enum class UpdatePhase {
  kPrompt,         // before any attempt (also after a press on battery)
  kRunning,        // the worker runs
  kDeviceMissing,  // the ACPI device could not be opened
  kSucceeded,
  kFailed,
};

class CUpdateDlg : public CLayeredDialog {
 public:
  explicit CUpdateDlg(CWnd* pParent = nullptr);
  ~CUpdateDlg() override;

  // The process exit code for what happened in this window: the final status
  // of the update attempt, ERROR_CANCELLED when no attempt was made, or
  // kExitNoWindowArt when the window could not be drawn.
  DWORD GetExitCode() const;
  // Runs the dialog modally when the window can be drawn. When it cannot (no
  // graphics library, or no background art), the person is told in a message
  // box and nothing is sent to the controller. Returns the exit code.
  DWORD RunModal(bool bGraphicsStarted);
  UpdatePhase GetPhase() const { return m_phase; }

  CSkinButton m_btnExit;
  CSkinButton m_btnClose;
  CSkinButton m_btnUpdate;
  CSkinButton m_btnShutdown;
  CSkinButton m_btnLater;
  CSkinLabel m_picBullet;
  CSkinLabel m_picIllustration;
  CSkinLabel m_picCautionIcon;
  CSkinLabel m_lblMessage;
  CSkinLabel m_lblCaution;
  CSkinLabel m_picSpinner;
  CSkinLabel m_lblVersion;
  HICON m_hAppIcon = nullptr;
  UpdateState m_state;  // shared with the worker, which gets &m_state

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void LayoutControls() override;

  void OnDestroy();
  void OnClose();
  void OnLButtonDown(UINT nFlags, POINT point);
  LRESULT OnDisplayChange(WPARAM wParam, LPARAM lParam);
  LRESULT OnQueryEndSession(WPARAM wParam, LPARAM lParam);
  LRESULT OnEndSession(WPARAM wParam, LPARAM lParam);
  void OnSettingChange(UINT uFlags, LPCWSTR lpszSection);
  void OnUpdateClicked();
  void OnShutdownClicked();
  void OnLaterClicked();

  // Runs the worker to its end, animating the spinner every 100 ms tick and
  // handling every message that came meanwhile, as the busy window does. False
  // when the thread could not be started.
  bool RunWorker();
  // One tick's messages while the worker runs (see RunWorker).
  void DispatchWhileBusy(bool& bQuit, WPARAM& nQuitCode);
  // Removes the keys, clicks and close commands still queued from the busy
  // phase, once the page that follows it is up.
  static void DropInputFromTheBusyPhase();
  // A close attempt during the write (Esc, Alt+F4, the close cross, Exit):
  // nothing stops, and a line says why.
  void RefuseClose();
  // Puts the message (or another label's text) on screen and tells assistive
  // tools that it changed.
  void SetLabelText(CSkinLabel& label, LPCWSTR pszText);
  // What the window says while the worker runs.
  void ShowBusyState();
  // After a press: closes the device channel, then lets other runs at the
  // machine; the window holds nothing while it waits for a person.
  void EndAttempt();
  // After a re-layout: puts back what the current phase shows.
  void RestorePhaseState();
  // Gives the keyboard focus to the button the flow now offers.
  void FocusOffered(CSkinButton& button);
  // The outcome of the press in m_state.m_dwStatus: its line, then Exit, or
  // Shut down and Later after a success.
  void ShowOutcome();

  UpdatePhase m_phase = UpdatePhase::kPrompt;
  bool m_bUndrawable = false;     // the layout left the window without pixels
  wchar_t m_szResult[256] = L"";  // the result line on screen, once there is one
  HANDLE m_hLock = nullptr;       // the machine's update lock, held for one attempt
  bool m_bCloseRefused = false;   // a close was attempted during this write: its line is shown
  SessionEnd m_sessionEnd;        // told by the session's messages, read by the worker (m_state)

  DECLARE_MESSAGE_MAP()
};
