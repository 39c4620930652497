// The program's entry: the framework runs the application object.
#include <unistd.h>

#include <cstdio>

#include "platform/app.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

int main() {
  const int status = AfxWinMain();
  // The run is over and its windows are gone. What the libraries would still
  // do on the way out (their destructors, leaving the accessibility bus)
  // leaves nothing behind the process and took longer than the rest of the
  // end of a join, so the process ends here. Leaks are still looked for
  // where the build looks for them.
#if defined(__SANITIZE_ADDRESS__)
  __lsan_do_leak_check();
#endif
  std::fflush(nullptr);
  ::_exit(status);
}
