// CUpdateApp: the application object. It reads the UI language and the
// command line, runs the update dialog modally and then ends the program, whose
// exit code is the outcome of the update attempt.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/options.h"
#include "framework/win_app.h"

class CUpdateApp : public CWinApp {
 public:
  CUpdateApp();

  // Runs the dialog and returns FALSE, so the program ends when it is gone.
  BOOL InitInstance() override;
  // The dialog's exit code: 0 after a successful update, the final status
  // after a failed one, ERROR_CANCELLED when the window closed before any
  // attempt.
  int ExitInstance() override;

  // The command line: "/downgradable" and "/LID:<hex>" into the two members,
  // everything else into m_options; always TRUE.
  BOOL ParseOptions(int argc, const wchar_t* const* argv);

  // The session ends under the run, whose worker has ended: its last log
  // lines (and a silent run's console line), then the process ends with
  // `dwExitCode` before Windows ends it with a code of its own.
  void EndWithSession(uint32_t dwExitCode);

  int32_t m_bDowngradable = 0;  // BOOL
  LANGID m_wLangId = 0;

 private:
  UpdateOptions m_options;      // the deployment options besides the two above
  std::wstring m_strArguments;  // as given, for the log
  DWORD m_dwExitCode = ERROR_CANCELLED;
};

extern CUpdateApp theApp;
