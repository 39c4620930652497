// A console stand-in for the windowing half of the backend: message boxes
// become text on standard error, and no dialog can be shown, so a run stops
// where it would ask the user. Useful where no display exists.
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/backend.h"
#include "platform/dialog.h"
#include "platform/window.h"

namespace {

// One write where the system allows, so that messages of two processes do
// not interleave.
void WriteAll(int fd, const std::string& text) {
  std::string::size_type done = 0;
  while (done < text.size()) {
    const ssize_t put = ::write(fd, text.data() + done, text.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<std::string::size_type>(put);
  }
}

}  // namespace

CWnd* CWnd::GetLastActivePopup() { return this; }

BOOL CWnd::IsIconic() const { return FALSE; }

void CWnd::SetIcon(HICON, BOOL) {}

void CWnd::GetClientRect(CRect* rect) const { *rect = CRect{}; }

std::intptr_t CWnd::SendMessage(UINT, std::uintptr_t, std::intptr_t) { return 0; }

CPaintDC::CPaintDC(CWnd* wnd) : m_pWnd(wnd) {}

CPaintDC::~CPaintDC() = default;

void CPaintDC::DrawIcon(int, int, HICON) {}

int GetSystemMetrics(int index) { return index == SM_CXICON || index == SM_CYICON ? 32 : 0; }

namespace platform {

INT_PTR RunModalDialog(CDialog&) { return -1; }

int ShowMessageBox(CWnd*, const std::string& text, const std::string& caption, UINT) {
  WriteAll(STDERR_FILENO, caption + "\n" + text + "\n");
  return IDOK;
}

BOOL StartHelpViewer(const std::string&, DWORD) { return FALSE; }

HICON LoadIconResource(UINT) { return nullptr; }

}  // namespace platform
