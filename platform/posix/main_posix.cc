// The program's entry: the framework runs the application object.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/app.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

// The status of a run that ended on a failure it reported.
constexpr int kExitFailure = 1;

const char kUsage[] =
    "Usage: NWD4_322 [--help | --version]\n"
    "Rebuilds an installer from its part files NWD4_322.001, NWD4_322.002, ...\n"
    "Start it in the folder that holds every part, on a local disk: it reads\n"
    "the first part's header, asks in a window whether to go on, checks every\n"
    "part, joins them into the file that the header names, in that folder,\n"
    "and asks the desktop to open it. Every failure is one message.\n"
    "\n"
    "  --help     show this text\n"
    "  --version  show the version\n"
    "Any other argument is ignored.\n"
    "\n"
    "Exit status: 0 after the joined file was handed to the desktop's opener,\n"
    "or after the dialog was cancelled; 1 after a failure it reported.\n"
    "See NWD4_322(1).\n";

// What --help and --version answer, or null to run the program.
const char* CommandLineAnswer(int argc, char** argv) {
  static const char version[] = "NWD4_322 " NWD_VERSION "\n";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) return kUsage;
    if (std::strcmp(argv[i], "--version") == 0) return version;
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (const char* answer = CommandLineAnswer(argc, argv)) {
    return std::fputs(answer, stdout) >= 0 && std::fflush(stdout) == 0 ? 0 : kExitFailure;
  }
  int status = AfxWinMain();
  if (status == 0 && AfxRunFailed()) status = kExitFailure;
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
