// The join's progress window on Windows: a modeless dialog from the
// program's template, with the system's progress control, and the same
// progress on the taskbar button where the system has one. It runs no loop
// of its own: each update handles what is queued and returns to the join.
#include <windows.h>
//
#include <commctrl.h>
#include <shobjidl.h>

#include "platform/progress_backend.h"
#include "platform/win32/win32_api.h"
#include "ui/resource.h"

namespace {

// The bar counts in thousandths: finer than any bar is wide.
constexpr int kBarRange = 1000;
// Messages handled per update at most: a flood of them must not hold up the
// join, which comes back within a block's time anyway.
constexpr int kMaxMessagesPerUpdate = 256;

struct ProgressWindow {
  HWND dialog = nullptr;
  HWND bar = nullptr;
  ITaskbarList3* taskbar = nullptr;
  bool comStarted = false;
  bool stopped = false;
  int position = -1;  // on the bar, in thousandths
};

// Cancel, Escape (which the dialog manager turns into IDCANCEL) and the
// close button all ask to stop; the joiner takes the window down.
INT_PTR CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    return TRUE;
  }
  auto* progress = reinterpret_cast<ProgressWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (!progress) return FALSE;
  if ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE) {
    progress->stopped = true;
    return TRUE;
  }
  return FALSE;
}

// The taskbar button's progress, where the system has it; nothing otherwise.
void ConnectTaskbar(ProgressWindow& progress) {
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  progress.comStarted = SUCCEEDED(com);
  ITaskbarList3* taskbar = nullptr;
  if (FAILED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&taskbar)))) {
    return;
  }
  if (FAILED(taskbar->HrInit())) {
    taskbar->Release();
    return;
  }
  progress.taskbar = taskbar;
}

void HandleQueuedMessages(ProgressWindow& progress) {
  MSG msg;
  for (int i = 0; i < kMaxMessagesPerUpdate && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);
       ++i) {
    if (msg.message == WM_QUIT) {
      // Not ours to take: whoever runs the next loop sees it again.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (!::IsDialogMessageW(progress.dialog, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

}  // namespace

namespace platform {

std::uint64_t TickCount() { return ::GetTickCount64(); }

void* CreateProgressWindow(const std::string& caption, const std::string& text) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  auto* progress = new ProgressWindow;
  const HINSTANCE module = ::GetModuleHandleW(nullptr);
  progress->dialog = ::CreateDialogParamW(module, MAKEINTRESOURCEW(IDD_JOIN_PROGRESS), nullptr,
                                          ProgressProc, reinterpret_cast<LPARAM>(progress));
  if (!progress->dialog) {
    delete progress;
    return nullptr;
  }
  ::SetWindowTextW(progress->dialog, win32::Widen(caption).c_str());
  ::SetDlgItemTextW(progress->dialog, IDC_PROGRESS_TEXT, win32::Widen(text).c_str());
  progress->bar = ::GetDlgItem(progress->dialog, IDC_PROGRESS_BAR);
  ::SendMessageW(progress->bar, PBM_SETRANGE32, 0, kBarRange);
  const HICON icon = ::LoadIconW(module, MAKEINTRESOURCEW(IDR_MAINFRAME));
  ::SendMessageW(progress->dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageW(progress->dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  ::ShowWindow(progress->dialog, SW_SHOW);
  ::UpdateWindow(progress->dialog);
  ConnectTaskbar(*progress);
  HandleQueuedMessages(*progress);
  return progress;
}

bool UpdateProgressWindow(void* window, std::uint64_t done, std::uint64_t total) {
  auto& progress = *static_cast<ProgressWindow*>(window);
  const int position =
      total == 0 || done >= total ? kBarRange : static_cast<int>(done * kBarRange / total);
  if (position != progress.position) {
    progress.position = position;
    ::SendMessageW(progress.bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    if (progress.taskbar) progress.taskbar->SetProgressValue(progress.dialog, done, total);
  }
  HandleQueuedMessages(progress);
  return !progress.stopped && ::IsWindow(progress.dialog);
}

void DestroyProgressWindow(void* window) {
  auto* progress = static_cast<ProgressWindow*>(window);
  if (progress->taskbar) {
    progress->taskbar->SetProgressState(progress->dialog, TBPF_NOPROGRESS);
    progress->taskbar->Release();
  }
  ::DestroyWindow(progress->dialog);
  if (progress->comStarted) ::CoUninitialize();
  delete progress;
}

}  // namespace platform
