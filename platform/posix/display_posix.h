// Why the program's windows cannot be shown, for the one line it writes
// instead: the display the environment names and what stands in the way.
#pragma once

#include <string>

namespace posix {

// Called once opening the display has failed: a sentence naming the display
// (DISPLAY, or WAYLAND_DISPLAY where only that is set) and the reason, for
// example "cannot show the dialog on display \":7\": no X server runs there".
std::string DescribeUnopenedDisplay();

}  // namespace posix
