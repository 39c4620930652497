// What each backend provides for the join's progress window. Standard types
// only, so that a backend file may include its system's headers beside it.
// The logic never includes this header.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Milliseconds of a clock that never goes back.
std::uint64_t TickCount();

// Puts a progress window on screen, with the caption, the line of text, an
// empty bar and a Cancel button. Null when no window can be shown; the join
// then goes on without one.
void* CreateProgressWindow(const std::string& caption, const std::string& text);

// Shows done of total on the bar and handles the window's pending events.
// False once the user has pressed Cancel, pressed Escape or closed it.
bool UpdateProgressWindow(void* window, std::uint64_t done, std::uint64_t total);

// Takes the window off the screen before returning.
void DestroyProgressWindow(void* window);

}  // namespace platform
