// The application object and the framework's start and end of a run.
#pragma once

#include <string>

#include "platform/types.h"
#include "platform/window.h"

class CWinApp {
 public:
  // Registers this object as the one application; no name is given, so the
  // title is taken from the program file's name.
  CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual ~CWinApp();

  // Start-up hook. FALSE means no message loop runs and the process ends.
  virtual BOOL InitInstance() { return FALSE; }
  virtual int ExitInstance() { return 0; }

  // The application's command table: commands that no window handled.
  // Returns TRUE when the command was handled.
  virtual BOOL OnCmdMsg(UINT id);

  // The framework's help handler: opens the help file at the topic of the
  // main window's template.
  void OnHelp();
  void WinHelp(DWORD data, UINT command);

  BOOL Enable3dControlsStatic() { return FALSE; }
  // One of the program's icons; null when there is none.
  HICON LoadIcon(UINT id) const;

  // Owner of the program's message boxes while it exists.
  CWnd* m_pMainWnd = nullptr;
  // Caption of every message box: the program file's name without extension.
  std::string m_strTitle;
  // The program file's path with the extension ".HLP".
  std::string m_strHelpFilePath;
};

CWinApp* AfxGetApp();

// One modal message box with an OK button. Type 0 gets the exclamation icon;
// the owner is the main window's last active pop-up, or none.
int AfxMessageBox(const std::string& text, UINT type = MB_OK);

// Reports the file or memory error being handled, as the framework reports
// every such error: one box with the file error's text and the stop icon,
// or the system-modal box of memory running out. Called inside a catch
// block; any other error passes on.
void AfxReportException();

// TRUE when the run ends on a failure: a message it showed, or a dialog it
// could not show, that no later command of the user went on from. The
// Linux program ends with a status that says so.
BOOL AfxRunFailed();

// The framework's run: prepares the process, names the application, calls
// InitInstance and ExitInstance. A file or memory error that escapes the
// start-up hook is reported and ends the run.
int AfxWinMain();
