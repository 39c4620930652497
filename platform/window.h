// Windows as the dialog logic sees them. The handle and the drawing are the
// backend's; the portable part only routes commands and owners.
#pragma once

#include <cstdint>

#include "platform/types.h"

class CWnd {
 public:
  CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;
  virtual ~CWnd() = default;

  // The pop-up that was last active over this window; this window itself
  // when it has none.
  CWnd* GetLastActivePopup();

  BOOL IsIconic() const;
  // bigIcon TRUE sets the large (caption/taskbar) icon, FALSE the small one.
  void SetIcon(HICON icon, BOOL bigIcon);
  void GetClientRect(CRect* rect) const;
  std::intptr_t SendMessage(UINT message, std::uintptr_t wParam, std::intptr_t lParam);

  // Non-null while the window exists.
  void* m_hWnd = nullptr;
  // Template number of a dialog: its help topic is this above the base.
  UINT m_nIDHelp = 0;
};

// Begins painting a window on construction and ends it on destruction.
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  ~CPaintDC();

  std::uintptr_t GetSafeHdc() const { return m_hDC; }
  void DrawIcon(int x, int y, HICON icon);

 private:
  // A backend that needs more to end the painting (the window, its own
  // state) keeps it itself, by the object.
  std::uintptr_t m_hDC = 0;
};

int GetSystemMetrics(int index);
