// The modal dialog. The backend builds the window from the template, runs
// the modal loop and calls back into the handlers below; command routing and
// the framework's report of a failed command are portable.
#pragma once

#include "platform/types.h"
#include "platform/window.h"

class CDialog : public CWnd {
 public:
  // The window is always created without an owner: the program has no
  // other window to put it under.
  explicit CDialog(UINT nIDTemplate);

  // Shows the dialog modally: IDOK or IDCANCEL as it was ended, or -1 when it
  // cannot be shown. The window is gone when this returns, and so is its
  // registration as the application's main window.
  virtual INT_PTR DoModal();

  // Called once the window exists; TRUE lets the backend focus the first
  // tab stop.
  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void OnPaint();
  virtual HICON OnQueryDragIcon();

  // Ends the modal loop with the given result once the current handler returns.
  void EndDialog(int result);

  // Runs a command the way the framework does: OK and Cancel go to their
  // handlers, anything else to the application. A file or memory error that
  // leaves the handler is reported here and the dialog stays open.
  void OnCommand(UINT id);

  UINT GetTemplateId() const { return m_nIDTemplate; }
  // Set by EndDialog; the backend's modal loop watches it.
  bool IsEnded() const { return m_bEnded; }
  int GetResult() const { return m_nModalResult; }

 protected:
  virtual void DoDataExchange() {}
  BOOL UpdateData(BOOL saveAndValidate);

 private:
  UINT m_nIDTemplate;
  bool m_bEnded = false;
  int m_nModalResult = -1;
};
