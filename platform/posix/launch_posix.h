// Handing a file to the desktop's opener (xdg-open), split from what the
// program then shows so that tests can run the opener alone.
#pragma once

#include <string>

namespace posix {

enum class OpenerResult {
  Missing,    // no opener on the search path
  Succeeded,  // it ended with status 0 within the wait
  Failed,     // it could not be started, or ended otherwise within the wait
  Running,    // still running when the wait was over: it has taken the file
};

// Starts the opener on the file, detached from this process (its own
// session, quiet standard streams, never a child of ours), and waits at most
// boundMilliseconds for it to end. Never through a shell.
OpenerResult StartOpener(const std::string& fullPath, int boundMilliseconds);

}  // namespace posix
