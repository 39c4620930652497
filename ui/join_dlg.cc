#include "ui/join_dlg.h"

#include "join/join_app.h"
#include "join/part_set.h"
#include "ui/resource.h"

CJoinDlg::CJoinDlg() : CDialog(IDD_JOIN), m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)) {}

BOOL CJoinDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetIcon(m_hIcon, TRUE);
  SetIcon(m_hIcon, FALSE);
  return TRUE;
}

void CJoinDlg::OnOK() { VerifyPartSet(); }

void CJoinDlg::VerifyPartSet() {
  CJoinApp& app = GetJoinApp();
  if (CheckPartSet(app.m_divHeader, app.m_partLengths)) {
    CDialog::OnOK();
  } else {
    EndDialog(IDCANCEL);
  }
}

void CJoinDlg::OnPaint() {
  if (!IsIconic()) {
    CDialog::OnPaint();
    return;
  }
  // Minimised: the icon, centred in the client area.
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, dc.GetSafeHdc(), 0);
  const int cxIcon = GetSystemMetrics(SM_CXICON);
  const int cyIcon = GetSystemMetrics(SM_CYICON);
  CRect rect;
  GetClientRect(&rect);
  const int x = (rect.Width() - cxIcon + 1) / 2;
  const int y = (rect.Height() - cyIcon + 1) / 2;
  dc.DrawIcon(x, y, m_hIcon);
}

HICON CJoinDlg::OnQueryDragIcon() { return m_hIcon; }
