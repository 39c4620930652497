// Windows, painting, the modal dialog, message boxes and help on the
// system's user interface.
#include <map>

#include "platform/backend.h"
#include "platform/dialog.h"
#include "platform/win32/win32_api.h"
#include "platform/window.h"

namespace {

// The system's icon handles travel through the framework as its opaque
// icon type.
HICON ToIcon(void* icon) { return static_cast<HICON>(icon); }
void* FromIcon(HICON icon) { return icon; }

// Runs the dialog's handlers for the dialog procedure.
class DialogAdapter final : public win32::DialogHandlers {
 public:
  explicit DialogAdapter(CDialog& dialog) : m_dialog(dialog) {}

  bool OnInit(void* window) noexcept override {
    m_dialog.m_hWnd = window;
    return m_dialog.OnInitDialog() != FALSE;
  }
  bool OnCommand(unsigned id, int& result) noexcept override {
    m_dialog.OnCommand(id);
    return Ended(result);
  }
  bool OnHelpKey(int& result) noexcept override { return OnCommand(ID_HELP, result); }
  void OnPaint() noexcept override { m_dialog.OnPaint(); }
  void* OnQueryDragIcon() noexcept override { return FromIcon(m_dialog.OnQueryDragIcon()); }

 private:
  bool Ended(int& result) const {
    if (!m_dialog.IsEnded()) return false;
    result = m_dialog.GetResult();
    return true;
  }

  CDialog& m_dialog;
};

}  // namespace

BOOL CWnd::IsIconic() const { return win32::IsMinimised(m_hWnd) ? TRUE : FALSE; }

void CWnd::SetIcon(HICON icon, BOOL bigIcon) {
  win32::SetWindowIcon(m_hWnd, FromIcon(icon), bigIcon != FALSE);
}

void CWnd::GetClientRect(CRect* rect) const {
  const win32::Rect client = win32::ClientRect(m_hWnd);
  *rect = CRect{client.left, client.top, client.right, client.bottom};
}

std::intptr_t CWnd::SendMessage(UINT message, std::uintptr_t wParam, std::intptr_t lParam) {
  return win32::Send(m_hWnd, message, wParam, lParam);
}

namespace {

// What ending each painting needs, by its CPaintDC: only this backend's
// painting has it.
struct Painting {
  void* window;
  void* state;
};
std::map<const CPaintDC*, Painting> g_paintings;

}  // namespace

// The painting is noted before it begins, so that nothing can fail between
// beginning it and noting how it ends.
CPaintDC::CPaintDC(CWnd* wnd) {
  Painting& painting = g_paintings[this];
  painting = Painting{wnd->m_hWnd, nullptr};
  m_hDC = win32::BeginPainting(painting.window, painting.state);
}

CPaintDC::~CPaintDC() {
  const auto found = g_paintings.find(this);
  win32::EndPainting(found->second.window, found->second.state);
  g_paintings.erase(found);
}

void CPaintDC::DrawIcon(int x, int y, HICON icon) {
  win32::DrawIconAt(m_hDC, x, y, FromIcon(icon));
}

int GetSystemMetrics(int index) { return win32::SystemMetric(index); }

namespace platform {

INT_PTR RunModalDialog(CDialog& dialog) {
  DialogAdapter adapter(dialog);
  const std::intptr_t result = win32::RunModalDialog(dialog.GetTemplateId(), adapter);
  dialog.m_hWnd = nullptr;
  return result;
}

int ShowMessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) {
  return win32::ShowMessage(owner ? owner->m_hWnd : nullptr, text, caption, type);
}

BOOL StartHelpViewer(const std::string& helpFile, DWORD context) {
  return win32::StartHelp(helpFile, context) ? TRUE : FALSE;
}

HICON LoadIconResource(UINT id) { return ToIcon(win32::LoadProgramIcon(id)); }

}  // namespace platform
