// System services over POSIX: the current folder, the program's own path,
// handing a file to the desktop's opener, memory, process set-up.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/posix/launch_posix.h"
#include "platform/posix/system_calls.h"
#include "platform/system.h"

using posix::sys;

namespace {

constexpr const char* kLauncherName = "xdg-open";
constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";

std::string ReadLink(const char* path) {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t length = sys.readlink(path, buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(length));
    }
    buffer.resize(buffer.size() * 2);
  }
}

// The launcher's full path from PATH, or "" when there is none. Only
// absolute entries count: an empty or relative one would mean the working
// folder, which holds downloaded files.
std::string FindOnSearchPath(const std::string& program) {
  const char* variable = std::getenv("PATH");
  const std::string searchPath = variable ? variable : kDefaultSearchPath;
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type colon = searchPath.find(':', start);
    const std::string entry = searchPath.substr(start, colon - start);
    if (!entry.empty() && entry[0] == '/') {
      const std::string candidate = entry + "/" + program;
      struct stat st;
      if (sys.stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
          sys.access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    if (colon == std::string::npos) return {};
    start = colon + 1;
  }
}

}  // namespace

const char kFolderSeparator = '/';

BOOL GetCurrentFolder(std::string& folder) {
  std::vector<char> buffer(4096);
  while (!sys.getcwd(buffer.data(), buffer.size())) {
    // Too small is the only failure worth another try; a folder that was
    // deleted or cannot be reached has no name to give.
    if (errno != ERANGE) return FALSE;
    buffer.resize(buffer.size() * 2);
  }
  folder = buffer.data();
  return TRUE;
}

std::string GetProgramPath() {
  std::string path = ReadLink("/proc/self/exe");
  // The name of a program file replaced while it runs.
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() &&
      path.compare(path.size() - deleted.size(), deleted.size(), deleted) == 0) {
    path.erase(path.size() - deleted.size());
  }
  return path;
}

std::string GetProgramFileName() {
  std::string path = GetProgramPath();
  if (path.empty()) path = program_invocation_name;
  return path.substr(path.find_last_of('/') + 1);
}

namespace posix {

namespace {

// How the process between us and the opener tells what became of it.
constexpr int kOpenerRunning = 0;
constexpr int kOpenerSucceeded = 1;
constexpr int kOpenerFailed = 2;

long MillisecondsSince(const timespec& start) {
  timespec now;
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

}  // namespace

OpenerResult StartOpener(const std::string& fullPath, int boundMilliseconds) {
  const std::string launcher = FindOnSearchPath(kLauncherName);
  if (launcher.empty()) return OpenerResult::Missing;

  // Everything the children need is made before the fork: between fork and
  // exec only async-signal-safe calls are allowed.
  char* const argv[] = {const_cast<char*>(kLauncherName), const_cast<char*>(fullPath.c_str()),
                        nullptr};
  sigset_t noSignals;
  sigemptyset(&noSignals);
  struct sigaction defaultAction = {};
  defaultAction.sa_handler = SIG_DFL;

  const pid_t child = sys.fork();
  if (child < 0) return OpenerResult::Failed;
  if (child == 0) {
    // Its own session, so the launched program outlives us and takes no
    // signals from our terminal, and quiet standard streams.
    sys.setsid();
    const int null = sys.open("/dev/null", O_RDWR, 0);
    if (null >= 0) {
      sys.dup2(null, STDIN_FILENO);
      sys.dup2(null, STDOUT_FILENO);
      sys.dup2(null, STDERR_FILENO);
      if (null > STDERR_FILENO) sys.close(null);
    }
    // Nothing of ours goes with it: no descriptor that a library opened
    // without close-on-exec, no ignored or blocked signal. An ignored
    // SIGCHLD would also take the opener's status away from this process.
    // Where the kernel or a sandbox has no close_range, the C library
    // closes them one by one.
    if (sys.close_range(STDERR_FILENO + 1, ~0U, 0) != 0) sys.closefrom(STDERR_FILENO + 1);
    sys.sigaction(SIGPIPE, &defaultAction, nullptr);
    sys.sigaction(SIGCHLD, &defaultAction, nullptr);
    sys.sigprocmask(SIG_SETMASK, &noSignals, nullptr);
    // The opener runs as a grandchild, never a child of ours: this process
    // waits for it a bounded while only, and once it ends, init adopts and
    // reaps whatever still runs. The opener may run its handler in the
    // foreground for as long as the installer takes.
    timespec start;
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    const pid_t grandchild = sys.fork();
    if (grandchild < 0) ::_exit(kOpenerFailed);
    if (grandchild == 0) {
      sys.execv(launcher.c_str(), argv);
      ::_exit(127);
    }
    for (;;) {
      int status;
      const pid_t ended = sys.waitpid(grandchild, &status, WNOHANG);
      if (ended == grandchild) {
        ::_exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kOpenerSucceeded : kOpenerFailed);
      }
      if ((ended < 0 && errno != EINTR) || MillisecondsSince(start) >= boundMilliseconds) {
        ::_exit(kOpenerRunning);
      }
      ::poll(nullptr, 0, 10);
    }
  }
  // Bounded by the child's own wait.
  int status;
  pid_t ended;
  while ((ended = sys.waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  if (ended != child || !WIFEXITED(status)) return OpenerResult::Running;
  switch (WEXITSTATUS(status)) {
    case kOpenerSucceeded:
      return OpenerResult::Succeeded;
    case kOpenerFailed:
      return OpenerResult::Failed;
    default:
      return OpenerResult::Running;
  }
}

}  // namespace posix

CGlobalBuffer::CGlobalBuffer(std::size_t size)
    : m_pData(static_cast<unsigned char*>(sys.calloc(size > 0 ? size : 1, 1))),
      m_nSize(m_pData ? size : 0) {}

CGlobalBuffer::~CGlobalBuffer() { std::free(m_pData); }

namespace platform {

void InitProcess() {
  // A write to a closed pipe is an error to report, not a reason to die.
  struct sigaction ignore = {};
  ignore.sa_handler = SIG_IGN;
  sys.sigaction(SIGPIPE, &ignore, nullptr);
}

}  // namespace platform
