// The update dialog on the real template, art and version, with the stand-ins
// of fake_flow.h, and readers for the window-state table.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "fake_flow.h"
#include "ui/update_dlg.h"
#include "window_test_support.h"

// Visibility and enabled state of one control: "VE" shown and enabled, "Vd"
// shown and disabled, "hE"/"hd" hidden and enabled/disabled, "h" hidden
// whatever its enabled state.
struct WindowStateRow {
  const char* update;
  const char* exit;
  const char* close;
  const char* illustration;
  const char* caution;  // icon and text alike
  const char* spinner;
  const char* shutdownLater;
};

// The rows of the window-state table.
extern const WindowStateRow kStatePrompt;
extern const WindowStateRow kStateDeviceMissing;
extern const WindowStateRow kStateBattery;
extern const WindowStateRow kStateRunning;
extern const WindowStateRow kStateRunningRefused;  // after a close attempt: the line that says why
extern const WindowStateRow kStateSuccess;
extern const WindowStateRow kStateFailure;

// Checks all twelve controls against a row (bullet, message and version are
// always shown) and the message text.
::testing::AssertionResult MatchesState(HWND hDlg, const WindowStateRow& row, const std::wstring& message);

// Clicks a button of the dialog the way the button itself reports it.
void Click(HWND hDlg, int nId);

// The screen class the display of this run should give (TBT_EXPECT_SCREEN_CLASS).
int ExpectedScreenClass();

// A CUpdateDlg whose modal run executes a script once it is up.
class CScriptedUpdateDlg : public CUpdateDlg {
 public:
  std::function<void(CScriptedUpdateDlg&)> m_script;
  int m_nCancels = 0;

  // Runs `step` from the modal loop once it has had nothing else to do for
  // `ms` (a timer comes only when no other message waits): whatever was
  // queued before, and all it led to, has been handled by then.
  void WhenIdle(DWORD ms, std::function<void(CScriptedUpdateDlg&)> step);

 protected:
  BOOL OnInitDialog() override;
  void OnCancel() override {
    ++m_nCancels;
    CUpdateDlg::OnCancel();
  }
  LRESULT OnScript(WPARAM, LPARAM);
  LRESULT OnTimer(WPARAM, LPARAM);
  std::function<void(CScriptedUpdateDlg&)> m_whenIdle;
  DECLARE_MESSAGE_MAP()
};
