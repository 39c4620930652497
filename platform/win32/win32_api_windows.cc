// Dialog, window, message box and help calls of the Windows backend.
#include <windows.h>

#include "platform/win32/win32_api.h"

namespace win32 {
namespace {

// Asks the dialog procedure to run the F1 command, so that every handler
// runs there and not inside the message filter.
constexpr UINT kHelpKeyMessage = WM_APP;

// The one modal dialog on screen: the program has one thread and never
// shows a second dialog over the first.
struct ModalDialog {
  DialogHandlers* handlers = nullptr;
  HWND window = nullptr;  // from WM_INITDIALOG on
};
ModalDialog g_modal;

HWND AsWindow(void* window) { return static_cast<HWND>(window); }

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// Centres a window in the work area (the desktop less the taskbar) of the
// primary monitor; one that does not fit keeps its left and top edges in it.
void CentreInWorkArea(HWND window) {
  RECT rect;
  if (!::GetWindowRect(window, &rect)) return;
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  // The primary monitor is the one whose top left corner is the origin.
  const POINT origin = {0, 0};
  if (!::GetMonitorInfoW(::MonitorFromPoint(origin, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
  const RECT& area = monitor.rcWork;
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  int x = (area.left + area.right) / 2 - width / 2;
  int y = (area.top + area.bottom) / 2 - height / 2;
  if (x + width > area.right) x = area.right - width;
  if (x < area.left) x = area.left;
  if (y + height > area.bottom) y = area.bottom - height;
  if (y < area.top) y = area.top;
  ::SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool ModifierDown() {
  return ::GetKeyState(VK_SHIFT) < 0 || ::GetKeyState(VK_CONTROL) < 0 || ::GetKeyState(VK_MENU) < 0;
}

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    g_modal.window = window;
    RECT before = {};
    ::GetWindowRect(window, &before);
    const bool focusFirst = g_modal.handlers->OnInit(window);
    RECT after = {};
    ::GetWindowRect(window, &after);
    // The template places the dialog at the origin; where it appears is the
    // framework's choice, unless the dialog placed itself.
    if (SameRect(before, after)) CentreInWorkArea(window);
    return focusFirst ? TRUE : FALSE;
  }
  // Nothing but the dialog's own messages after initialisation reach its
  // handlers (the system sends a few before WM_INITDIALOG).
  if (window != g_modal.window || !g_modal.handlers) return FALSE;
  DialogHandlers& handlers = *g_modal.handlers;
  int result = 0;
  switch (message) {
    case WM_COMMAND:
      // Clicks, Enter, Escape and the close button; no control here sends
      // other notifications worth a command.
      if (HIWORD(wParam) > 1) return FALSE;
      if (handlers.OnCommand(LOWORD(wParam), result)) ::EndDialog(window, result);
      return TRUE;
    case kHelpKeyMessage:
      if (handlers.OnHelpKey(result)) ::EndDialog(window, result);
      return TRUE;
    case WM_PAINT:
      handlers.OnPaint();
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<INT_PTR>(handlers.OnQueryDragIcon());
    default:
      return FALSE;
  }
}

// F1 without Shift, Ctrl or Alt, pressed anywhere in the dialog, is its Help
// command. The dialog's modal loop passes every message through here first.
LRESULT CALLBACK HelpKeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX && g_modal.window) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_F1 && !ModifierDown() &&
        (msg->hwnd == g_modal.window || ::IsChild(g_modal.window, msg->hwnd))) {
      ::SendMessageW(g_modal.window, kHelpKeyMessage, 0, 0);
      return TRUE;
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

std::intptr_t RunModalDialog(unsigned templateId, DialogHandlers& handlers) {
  g_modal = ModalDialog{&handlers, nullptr};
  const HHOOK filter =
      ::SetWindowsHookExW(WH_MSGFILTER, HelpKeyFilter, nullptr, ::GetCurrentThreadId());
  const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr),
                                           MAKEINTRESOURCEW(templateId), nullptr, DialogProc, 0);
  if (filter) ::UnhookWindowsHookEx(filter);
  g_modal = ModalDialog{};
  return result;
}

bool IsMinimised(void* window) { return ::IsIconic(AsWindow(window)) != FALSE; }

void SetWindowIcon(void* window, void* icon, bool big) {
  ::SendMessageW(AsWindow(window), WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                 reinterpret_cast<LPARAM>(icon));
}

Rect ClientRect(void* window) {
  RECT rect = {};
  ::GetClientRect(AsWindow(window), &rect);
  return Rect{rect.left, rect.top, rect.right, rect.bottom};
}

std::intptr_t Send(void* window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  return ::SendMessageW(AsWindow(window), message, wParam, lParam);
}

std::uintptr_t BeginPainting(void* window, void*& state) {
  auto* paint = new PAINTSTRUCT{};
  const HDC dc = ::BeginPaint(AsWindow(window), paint);
  state = paint;
  return reinterpret_cast<std::uintptr_t>(dc);
}

void EndPainting(void* window, void* state) {
  auto* paint = static_cast<PAINTSTRUCT*>(state);
  ::EndPaint(AsWindow(window), paint);
  delete paint;
}

void DrawIconAt(std::uintptr_t dc, int x, int y, void* icon) {
  ::DrawIcon(reinterpret_cast<HDC>(dc), x, y, static_cast<HICON>(icon));
}

int SystemMetric(int index) { return ::GetSystemMetrics(index); }

void* LoadProgramIcon(unsigned id) {
  return ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
}

int ShowMessage(void* owner, const std::string& text, const std::string& caption, unsigned type) {
  return ::MessageBoxW(AsWindow(owner), Widen(text).c_str(), Widen(caption).c_str(), type);
}

bool StartHelp(const std::string& helpFile, unsigned long context) {
  return ::WinHelpW(g_modal.window, Widen(helpFile).c_str(), HELP_CONTEXT, context) != FALSE;
}

}  // namespace win32
