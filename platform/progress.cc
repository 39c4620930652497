// The portable half of the progress window: when it appears and what it is
// told. The window itself is the backend's.
#include "platform/progress.h"

#include <utility>

#include "platform/app.h"
#include "platform/progress_backend.h"

CJoinProgress::CJoinProgress(std::string text, std::uint64_t total)
    : m_strText(std::move(text)), m_nTotal(total), m_nStarted(platform::TickCount()) {}

CJoinProgress::~CJoinProgress() { End(); }

BOOL CJoinProgress::Step(std::uint64_t bytes) {
  m_nDone += bytes;
  if (m_bStopped) return FALSE;
  // A join that is over within the delay never shows a window, and the
  // clock is read only until the window has been asked for.
  if (!m_bShown && platform::TickCount() - m_nStarted >= kDelayMs) {
    m_bShown = true;
    CWinApp* app = AfxGetApp();
    m_pWindow = platform::CreateProgressWindow(app ? app->m_strTitle : std::string(), m_strText);
  }
  if (m_pWindow && !platform::UpdateProgressWindow(m_pWindow, m_nDone, m_nTotal)) {
    m_bStopped = true;
    End();
  }
  return m_bStopped ? FALSE : TRUE;
}

void CJoinProgress::End() {
  m_bShown = true;
  if (!m_pWindow) return;
  void* window = m_pWindow;
  m_pWindow = nullptr;
  platform::DestroyProgressWindow(window);
}
