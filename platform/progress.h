// The join's progress window, as the logic sees it. The window appears only
// once the join has run for a moment; between blocks it handles its pending
// events on the calling thread, so it answers within a block's time, and it
// tells the joiner when the user asked to stop.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

class CJoinProgress {
 public:
  // text: the one line the window shows; total: the bytes the join writes.
  CJoinProgress(std::string text, std::uint64_t total);
  CJoinProgress(const CJoinProgress&) = delete;
  CJoinProgress& operator=(const CJoinProgress&) = delete;
  ~CJoinProgress();

  // Counts bytes just written. FALSE once the user has asked to stop: no
  // further block may be written.
  BOOL Step(std::uint64_t bytes);
  // Takes the window down for good: before a message, so that no box waits
  // under a window that looks alive, and before the output is started.
  void End();

  // How long a join runs before its window appears.
  static constexpr std::uint64_t kDelayMs = 500;

 private:
  std::string m_strText;
  std::uint64_t m_nTotal;
  std::uint64_t m_nDone = 0;
  std::uint64_t m_nStarted;
  void* m_pWindow = nullptr;  // the backend's window while it is shown
  bool m_bShown = false;      // a window was asked for: it comes once
  bool m_bStopped = false;
};
