// The confirmation dialog: tells the user what is about to happen; Execute
// verifies the part set, Cancel ends the program.
#pragma once

#include "platform/dialog.h"

class CJoinDlg : public CDialog {
 public:
  CJoinDlg();

  BOOL OnInitDialog() override;
  // Execute: the whole set is verified before the dialog may end with OK.
  void OnOK() override;
  void OnPaint() override;
  HICON OnQueryDragIcon() override;

  HICON m_hIcon;

 protected:
  // The dialog has no data to transfer.
  void DoDataExchange() override {}

 private:
  void VerifyPartSet();
};
