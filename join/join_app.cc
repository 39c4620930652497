#include "join/join_app.h"

#include "join/join_parts.h"
#include "join/output_name.h"
#include "join/part_set.h"
#include "platform/system.h"
#include "ui/join_dlg.h"

namespace {

constexpr const char* kNotOnFixedDisk = "ハードディスク上で実行してください。";
constexpr const char* kFirstPartNotFound = "NWD4_322.001 が見つかりません。\n終了します。";
constexpr const char* kFirstPartDamaged =
    "NWD4_322.001 を正しく読み込む事ができません。\n"
    "ファイルが壊れている可能性があります。\n"
    "終了します。";

}  // namespace

CJoinApp::CJoinApp() = default;

CJoinApp& GetJoinApp() { return *static_cast<CJoinApp*>(AfxGetApp()); }

BOOL CJoinApp::OnCmdMsg(UINT id) {
  if (id == ID_HELP) {
    OnHelp();
    return TRUE;
  }
  return CWinApp::OnCmdMsg(id);
}

BOOL CJoinApp::InitInstance() {
  Enable3dControlsStatic();
  if (!CheckFixedDrive()) return FALSE;
  if (!LoadFirstHeader()) return FALSE;

  CJoinDlg dlg;
  m_pMainWnd = &dlg;
  // The registration ends with the window, also when it cannot be shown.
  const INT_PTR result = dlg.DoModal();

  if (result == IDOK && JoinParts()) LaunchOutput();
  return FALSE;
}

BOOL CJoinApp::JoinParts() { return ::JoinParts(m_divHeader, m_strOutputName, m_partLengths); }

BOOL GetWorkingFolder(std::string& folder) {
  if (!GetCurrentFolder(folder) || folder.empty()) return FALSE;
  if (folder.back() != kFolderSeparator) folder += kFolderSeparator;
  return TRUE;
}

BOOL CJoinApp::CheckFixedDrive() {
  // A folder that cannot be read cannot be judged either: refuse it the same
  // way as a folder on the wrong kind of drive.
  if (!GetWorkingFolder(m_strFolder) || GetFolderDriveType(m_strFolder) != DRIVE_FIXED) {
    AfxMessageBox(kNotOnFixedDisk);
    return FALSE;
  }
  return TRUE;
}

BOOL CJoinApp::LoadFirstHeader() {
  CFile part;
  if (!part.Open(m_strFolder + FIRST_PART_NAME, CFile::modeRead)) {
    AfxMessageBox(kFirstPartNotFound);
    return FALSE;
  }
  const BOOL accepted = ReadDivHeader(part, m_divHeader) &&
                        m_divHeader.nPartCount <= MAX_PART_COUNT &&
                        DecodeOutputName(m_divHeader, GetProgramFileName(), m_strOutputName);
  part.Close();
  // Another file's short name would lead the joiner's delete and create to
  // that file.
  if (!accepted || IsShortNameOfOtherFile(m_strOutputName)) {
    AfxMessageBox(kFirstPartDamaged);
    return FALSE;
  }
  return TRUE;
}

void CJoinApp::LaunchOutput() {
  // The folder may have been moved since start-up, and something else put
  // at its old path: the file to start is the one just written, in the
  // folder the process is in now.
  std::string folder;
  if (GetWorkingFolder(folder)) LaunchFile(folder + m_strOutputName);
}
