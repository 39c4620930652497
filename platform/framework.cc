// The portable half of the framework layer: application registration,
// message box rules, command routing and the run itself.
#include <new>
#include <string>

#include "platform/app.h"
#include "platform/backend.h"
#include "platform/dialog.h"
#include "platform/file.h"
#include "platform/system.h"

namespace {

CWinApp* g_app = nullptr;
// A failure was reported, or the dialog could not be shown, and no later
// command of the user went on from there: the run ends on it.
bool g_runFailed = false;

constexpr const char* kUntitledFile = "無題のﾌｧｲﾙ";
constexpr const char* kOutOfMemory = "ﾒﾓﾘが不足しています。";
constexpr const char* kHelpFailed = "ﾍﾙﾌﾟの起動に失敗しました。";

constexpr const char* kFileErrorTexts[] = {
    "ｴﾗｰはありませんでした。",
    "%1 へのｱｸｾｽ中に不明なｴﾗｰが発生しました。",
    "%1 が見つかりませんでした。",
    "%1 には無効なﾊﾟｽが含まれています。",
    "開いているﾌｧｲﾙが多すぎるため、%1 を開けませんでした。",
    "%1 へのｱｸｾｽは拒否されました。",
    "%1 へ無効なﾌｧｲﾙ ﾊﾝﾄﾞﾙが関連付けられていました。",
    "現在のﾃﾞｨﾚｸﾄﾘ %1 は削除できませんでした。",
    "%1 を作成できませんでした。そのﾃﾞｨﾚｸﾄﾘはいっぱいです。",
    "%1 のｼｰｸに失敗しました。",
    "%1 へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。",
    "%1 へのｱｸｾｽ中に共有違反が発生しました。",
    "%1 へのｱｸｾｽ中にﾛｯｸ違反が発生しました。",
    "%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。",
    "%1 の末尾以降にｱｸｾｽしようとしました。",
};

// The name without folder and extension.
std::string TitleFromFileName(const std::string& fileName) {
  const std::string::size_type dot = fileName.rfind('.');
  return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

std::string WithoutExtension(const std::string& path) {
  const std::string::size_type dot = path.rfind('.');
  const std::string::size_type separator = path.find_last_of("/\\");
  if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) {
    return path;
  }
  return path.substr(0, dot);
}

}  // namespace

std::string CFileException::GetErrorMessage() const {
  const int count = static_cast<int>(sizeof kFileErrorTexts / sizeof kFileErrorTexts[0]);
  std::string text = kFileErrorTexts[m_cause >= 0 && m_cause < count ? m_cause : genericException];
  const std::string::size_type placeholder = text.find("%1");
  if (placeholder != std::string::npos) {
    text.replace(placeholder, 2, m_strFileName.empty() ? kUntitledFile : m_strFileName);
  }
  return text;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::OnCmdMsg(UINT) { return FALSE; }

HICON CWinApp::LoadIcon(UINT id) const { return platform::LoadIconResource(id); }

void CWinApp::OnHelp() {
  // The topic of the window in front: its template number above the base.
  const DWORD context = m_pMainWnd ? HID_BASE_RESOURCE + m_pMainWnd->m_nIDHelp : 0;
  WinHelp(context, HELP_CONTEXT);
}

void CWinApp::WinHelp(DWORD data, UINT) {
  if (!platform::StartHelpViewer(m_strHelpFilePath, data)) AfxMessageBox(kHelpFailed);
}

CWinApp* AfxGetApp() { return g_app; }

// The program's only pop-ups over its dialog are message boxes, which are
// modal and gone before the next one is asked for: the dialog itself is
// always the window to own the next one.
CWnd* CWnd::GetLastActivePopup() { return this; }

int AfxMessageBox(const std::string& text, UINT type) {
  // Every message of the program reports a failure.
  g_runFailed = true;
  if ((type & MB_ICONMASK) == 0) type |= MB_ICONEXCLAMATION;
  CWinApp* app = AfxGetApp();
  CWnd* owner = nullptr;
  if (app && app->m_pMainWnd && app->m_pMainWnd->m_hWnd) {
    owner = app->m_pMainWnd->GetLastActivePopup();
  }
  const std::string caption = app ? app->m_strTitle : TitleFromFileName(GetProgramFileName());
  return platform::ShowMessageBox(owner, text, caption, type);
}

void AfxReportException() {
  try {
    throw;
  } catch (const CFileException& e) {
    AfxMessageBox(e.GetErrorMessage(), MB_ICONSTOP);
  } catch (const std::bad_alloc&) {
    AfxMessageBox(kOutOfMemory, MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
  }
}

BOOL AfxRunFailed() { return g_runFailed ? TRUE : FALSE; }

int AfxWinMain() {
  g_runFailed = false;
  platform::InitProcess();
  CWinApp* app = AfxGetApp();
  if (!app) return 1;
  app->m_strTitle = TitleFromFileName(GetProgramFileName());
  app->m_strHelpFilePath = WithoutExtension(GetProgramPath()) + ".HLP";
  // The logic has no handler of its own: an error that leaves the start-up
  // hook is reported once and ends the run, with every file it opened closed
  // by then.
  try {
    app->InitInstance();
  } catch (...) {
    AfxReportException();
  }
  return app->ExitInstance();
}

CDialog::CDialog(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) { m_nIDHelp = nIDTemplate; }

INT_PTR CDialog::DoModal() {
  m_bEnded = false;
  m_nModalResult = -1;
  // However the loop is left, the window is gone afterwards and no longer
  // the owner of message boxes: a box must never look for it.
  struct Unregister {
    CDialog* dialog;
    ~Unregister() {
      dialog->m_hWnd = nullptr;
      CWinApp* app = AfxGetApp();
      if (app && app->m_pMainWnd == dialog) app->m_pMainWnd = nullptr;
    }
  } unregister{this};
  const INT_PTR result = platform::RunModalDialog(*this);
  if (result == -1) g_runFailed = true;
  return result;
}

BOOL CDialog::OnInitDialog() { return TRUE; }

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::OnPaint() {
  CPaintDC dc(this);  // validates the window; the controls paint themselves
}

HICON CDialog::OnQueryDragIcon() { return nullptr; }

void CDialog::EndDialog(int result) {
  m_bEnded = true;
  m_nModalResult = result;
}

BOOL CDialog::UpdateData(BOOL) {
  DoDataExchange();
  return TRUE;
}

void CDialog::OnCommand(UINT id) {
  // A failure that left the dialog open was seen, and the user goes on.
  g_runFailed = false;
  try {
    if (id == static_cast<UINT>(IDOK)) {
      OnOK();
    } else if (id == static_cast<UINT>(IDCANCEL)) {
      OnCancel();
    } else if (CWinApp* app = AfxGetApp()) {
      app->OnCmdMsg(id);
    }
  } catch (...) {
    // The handler's files have been closed on the way here; the dialog stays
    // open for another try.
    AfxReportException();
  }
}
