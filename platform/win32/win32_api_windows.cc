// Dialog, window, message box and help calls of the Windows backend.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

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
  HWND window = nullptr;      // from WM_INITDIALOG on
  HICON smallIcon = nullptr;  // loaded for the window, destroyed with it
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

namespace {

// The template with its face replaced by the one the system can draw, or
// empty when the template's own is that face (or the template is none the
// program could read). Everything after the face keeps its place modulo four
// bytes, which is all the controls' alignment asks.
std::vector<DWORD> WithDrawableFace(const unsigned char* data, std::size_t size) {
  std::size_t at = 26;  // the fixed part of an extended template
  const auto word = [&](std::size_t offset) {
    WORD value = 0;
    if (offset + sizeof value <= size) std::memcpy(&value, data + offset, sizeof value);
    return value;
  };
  const auto skipString = [&] {
    while (at + 2 <= size && word(at) != 0) at += 2;
    at += 2;
  };
  const auto skipNameOrOrdinal = [&] {
    if (word(at) == 0xFFFF) {
      at += 4;
    } else {
      skipString();
    }
  };
  DWORD style = 0;
  if (size < at || word(0) != 1 || word(2) != 0xFFFF) return {};
  std::memcpy(&style, data + 12, sizeof style);
  if ((style & DS_SETFONT) == 0) return {};
  skipNameOrOrdinal();                // menu
  skipNameOrOrdinal();                // class
  skipString();                       // caption
  const std::size_t faceAt = at + 6;  // after point size, weight, italic, charset
  at = faceAt;
  skipString();
  if (at > size) return {};
  const std::wstring face(reinterpret_cast<const wchar_t*>(data + faceAt), (at - faceAt) / 2 - 1);
  const std::wstring drawable = DialogFace(face);
  if (drawable == face) return {};
  const std::size_t rest = (at + 3) / 4 * 4;
  std::size_t restAt = faceAt + (drawable.size() + 1) * 2;
  restAt = (restAt + 3) / 4 * 4;
  std::vector<DWORD> copy((restAt + (size > rest ? size - rest : 0) + 3) / 4, 0);
  auto* bytes = reinterpret_cast<unsigned char*>(copy.data());
  std::memcpy(bytes, data, faceAt);
  std::memcpy(bytes + faceAt, drawable.c_str(), (drawable.size() + 1) * 2);
  if (size > rest) std::memcpy(bytes + restAt, data + rest, size - rest);
  return copy;
}

}  // namespace

std::intptr_t RunModalDialog(unsigned templateId, DialogHandlers& handlers) {
  g_modal = ModalDialog{&handlers, nullptr, nullptr};
  const HHOOK filter =
      ::SetWindowsHookExW(WH_MSGFILTER, HelpKeyFilter, nullptr, ::GetCurrentThreadId());
  const HMODULE module = ::GetModuleHandleW(nullptr);
  const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(templateId), RT_DIALOG);
  const HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  const std::vector<DWORD> redrawn = data
                                         ? WithDrawableFace(static_cast<const unsigned char*>(data),
                                                            ::SizeofResource(module, found))
                                         : std::vector<DWORD>();
  const INT_PTR result =
      redrawn.empty()
          ? ::DialogBoxParamW(module, MAKEINTRESOURCEW(templateId), nullptr, DialogProc, 0)
          : ::DialogBoxIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(redrawn.data()),
                                      nullptr, DialogProc, 0);
  if (filter) ::UnhookWindowsHookEx(filter);
  if (g_modal.smallIcon) ::DestroyIcon(g_modal.smallIcon);
  g_modal = ModalDialog{};
  return result;
}

bool IsMinimised(void* window) { return ::IsIconic(AsWindow(window)) != FALSE; }

namespace {

// The resource each of the program's icons came from.
std::vector<std::pair<HICON, unsigned>> g_iconIds;

// The small icon's size at the window's own scaling, where the system says.
int SmallIconSize(HWND window) {
  using DpiForWindow = UINT(WINAPI*)(HWND);
  using MetricForDpi = int(WINAPI*)(int, UINT);
  const HMODULE user = ::GetModuleHandleW(L"user32.dll");
  const auto dpiFor = reinterpret_cast<DpiForWindow>(
      reinterpret_cast<void*>(::GetProcAddress(user, "GetDpiForWindow")));
  const auto metricFor = reinterpret_cast<MetricForDpi>(
      reinterpret_cast<void*>(::GetProcAddress(user, "GetSystemMetricsForDpi")));
  if (dpiFor && metricFor) return metricFor(SM_CXSMICON, dpiFor(window));
  return ::GetSystemMetrics(SM_CXSMICON);
}

}  // namespace

void SetWindowIcon(void* window, void* icon, bool big) {
  // The small icon is the resource's own small image, not the big one
  // shrunk by the system.
  if (!big && window == g_modal.window) {
    for (const auto& loaded : g_iconIds) {
      if (loaded.first != icon) continue;
      const int size = SmallIconSize(AsWindow(window));
      const HANDLE small =
          ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(loaded.second), IMAGE_ICON,
                       size, size, LR_DEFAULTCOLOR);
      if (!small) break;
      if (g_modal.smallIcon) ::DestroyIcon(g_modal.smallIcon);
      g_modal.smallIcon = static_cast<HICON>(small);
      icon = small;
      break;
    }
  }
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
  const HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
  if (icon) g_iconIds.emplace_back(icon, id);
  return icon;
}

int ShowMessage(void* owner, const std::string& text, const std::string& caption, unsigned type) {
  return ::MessageBoxW(AsWindow(owner), Widen(text).c_str(), Widen(caption).c_str(), type);
}

bool StartHelp(const std::string& helpFile, unsigned long context) {
  // The stub would answer with a box of its own about a help format it
  // cannot show: the viewer counts as one that cannot be started.
  return HelpViewerWorks() &&
         ::WinHelpW(g_modal.window, Widen(helpFile).c_str(), HELP_CONTEXT, context) != FALSE;
}

// --- the help stub and the dialog's face ---

bool HelpViewerWorks() {
  // The viewer WinHelp starts, in the order the system looks for programs.
  // Microsoft made the viewer for Windows Vista to 8.1 only (versions 6.0 to
  // 6.3); from Windows 10 on, the system's own winhlp32.exe is the stub, and
  // it carries the system's version. A viewer without a version record is
  // no file of the system's.
  for (UINT(WINAPI * folder)(LPWSTR, UINT) :
       {::GetSystemDirectoryW, ::GetSystemWindowsDirectoryW}) {
    wchar_t buffer[MAX_PATH];
    const UINT length = folder(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) continue;
    const std::wstring viewer = std::wstring(buffer, length) + L"\\winhlp32.exe";
    if (::GetFileAttributesW(viewer.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(viewer.c_str(), &ignored);
    if (size == 0) return true;
    std::vector<unsigned char> info(size);
    void* value = nullptr;
    UINT valueSize = 0;
    if (!::GetFileVersionInfoW(viewer.c_str(), 0, size, info.data()) ||
        !::VerQueryValueW(info.data(), L"\\", &value, &valueSize) ||
        valueSize < sizeof(VS_FIXEDFILEINFO)) {
      return true;
    }
    return HIWORD(static_cast<const VS_FIXEDFILEINFO*>(value)->dwProductVersionMS) < 10;
  }
  return false;
}

namespace {

int CALLBACK FaceFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

bool IsFaceKnown(const std::wstring& face) {
  if (face.empty() || face.size() >= LF_FACESIZE) return false;
  LOGFONTW font = {};
  font.lfCharSet = DEFAULT_CHARSET;
  std::wmemcpy(font.lfFaceName, face.c_str(), face.size());
  bool found = false;
  const HDC screen = ::GetDC(nullptr);
  ::EnumFontFamiliesExW(screen, &font, FaceFound, reinterpret_cast<LPARAM>(&found), 0);
  ::ReleaseDC(nullptr, screen);
  return found;
}

// GDI knows an East Asian face by its own-language name only where the
// system locale is that language, and by its English name elsewhere.
constexpr std::pair<const wchar_t*, const wchar_t*> kFaceNames[] = {
    {L"ＭＳ Ｐゴシック", L"MS PGothic"},
};

}  // namespace

std::wstring DialogFace(const std::wstring& templateFace) {
  if (IsFaceKnown(templateFace)) return templateFace;
  for (const auto& names : kFaceNames) {
    const std::wstring other = templateFace == names.first    ? names.second
                               : templateFace == names.second ? names.first
                                                              : L"";
    if (IsFaceKnown(other)) return other;
  }
  // The name every system maps to its own dialog face.
  return L"MS Shell Dlg";
}

}  // namespace win32
