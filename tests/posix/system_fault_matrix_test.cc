// The fault matrix over the real POSIX backend: every system call the
// backend makes, failed at each of its occurrences in turn with each error
// the system really gives for it, in a real folder on the build disk. Only
// the user and the message boxes are scripted; the opener is a program that
// records what it was handed. Whatever fails, the folder afterwards keeps
// the rules the fake's matrix keeps.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <tuple>
#include <type_traits>

#include "join/join_app.h"
#include "platform/backend.h"
#include "platform/dialog.h"
#include "platform/posix/file_posix.h"
#include "platform/posix/system_calls.h"
#include "platform/progress_backend.h"
#include "tests/fake/invariants.h"
#include "tests/matrix_tally.h"
#include "tests/posix/posix_test_util.h"
#include "tests/test_util.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using Log = std::vector<std::string>;

constexpr const char* kOutput = "SETUP.EXE";
constexpr const char* kNotOpened = "開くことができませんでした。";
constexpr int kShort = -1;  // the call moves half of what it was asked to

// --- the scripted user and message boxes ---

struct Screen {
  bool cancel = false;
  Log log;
  std::vector<fake::Message> messages;
  std::string folder;
} g_screen;

// The bare names of the folder's files this process holds open; a new file
// not yet named counts as the output.
std::vector<std::string> OpenInFolder() {
  std::vector<std::string> names;
  for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = fs::read_symlink(fd.path(), error).string();
    if (error || target.rfind(g_screen.folder + "/", 0) != 0) continue;
    const std::string name = target.substr(g_screen.folder.size() + 1);
    const bool unnamed = name[0] == '#' || name.find(".incomplete") != std::string::npos;
    names.push_back(unnamed ? kOutput : name);
  }
  return names;
}

// --- the calls failing ---

// Shared with the processes the launch forks, whose calls count too.
struct Injection {
  int call = -1;  // the index in kFaults, -1 for none
  int nth = 0;
  int error = 0;
  int seen = 0;
  int met = 0;
};
Injection* g_injection;
posix::SystemCalls g_real = posix::sys;

// The error the call is to fail with at this occurrence, kShort, or 0.
int Injected(int call) {
  Injection& injection = *g_injection;
  if (call != injection.call ||
      __atomic_add_fetch(&injection.seen, 1, __ATOMIC_SEQ_CST) != injection.nth) {
    return 0;
  }
  injection.met = 1;
  return injection.error;
}

// The table's slot Field, failing as injected. Count: the argument that a
// short call halves, -1 for none. Releases: the call gives its descriptor
// up even when it fails, as close does.
template <auto Field, int Count, bool Releases>
struct Faulty {
  static inline int index = -1;

  template <typename R, typename... A>
  static R Call(A... args) {
    const int error = Injected(index);
    if (error == 0) return (g_real.*Field)(args...);
    if constexpr (Count >= 0) {
      if (error == kShort) {
        std::tuple<A...> shortened(args...);
        auto& count = std::get<Count>(shortened);
        count = count > 1 ? count / 2 : count;
        return std::apply(g_real.*Field, shortened);
      }
    }
    if constexpr (Releases) (g_real.*Field)(args...);
    errno = error;
    if constexpr (std::is_pointer_v<R>) {
      return nullptr;
    } else {
      return static_cast<R>(-1);
    }
  }

  template <typename R, typename... A>
  static void Install(R (*posix::SystemCalls::*)(A...), int at) {
    index = at;
    posix::sys.*Field = &Call<R, A...>;
  }
};

template <auto Field, int Count = -1, bool Releases = false>
void Install(int at) {
  Faulty<Field, Count, Releases>::Install(Field, at);
}

struct CallFaults {
  const char* name;
  void (*install)(int index);
  std::vector<int> errors;
};

using S = posix::SystemCalls;
// Each call with the errors the system gives for it here: the file systems'
// own (EIO, ENOSPC, EDQUOT, EFBIG, ...), the process's limits (EMFILE,
// ENFILE, ENOMEM), signals (EINTR), and the answers of kernels, file systems
// and sandboxes that lack a feature (EOPNOTSUPP, ENOSYS, EINVAL, EPERM).
const CallFaults kFaults[] = {
    {"open",
     Install<&S::open>,
     {EACCES, EMFILE, ENFILE, ENOSPC, EDQUOT, EINTR, EOPNOTSUPP, EISDIR, EIO}},
    {"close", Install<&S::close, -1, true>, {EIO, EINTR, ENOSPC, EDQUOT}},
    {"read", Install<&S::read, 2>, {EIO, EINTR, kShort}},
    {"write", Install<&S::write, 2>, {EIO, ENOSPC, EDQUOT, EFBIG, EINTR, kShort}},
    {"lseek", Install<&S::lseek>, {EINVAL, EOVERFLOW}},
    {"fstat", Install<&S::fstat>, {EIO, ENOMEM, EOVERFLOW}},
    {"stat", Install<&S::stat>, {EACCES, EIO, ENOMEM}},
    {"lstat", Install<&S::lstat>, {EACCES, EIO, ENOMEM}},
    {"flock", Install<&S::flock>, {EINTR, ENOLCK, EWOULDBLOCK}},
    {"fcntl", Install<&S::fcntl>, {EPERM, EBUSY}},
    {"ftruncate", Install<&S::ftruncate>, {EIO, EPERM, EINTR}},
    {"fdatasync", Install<&S::fdatasync>, {EIO, ENOSPC, EDQUOT, EINTR, EINVAL}},
    {"faccessat", Install<&S::faccessat>, {EACCES, EROFS, EIO}},
    {"access", Install<&S::access>, {EACCES}},
    {"unlink", Install<&S::unlink>, {EACCES, EPERM, EBUSY, EIO}},
    {"link", Install<&S::link>, {EEXIST, EPERM, EMLINK, ENOSPC}},
    {"linkat", Install<&S::linkat>, {EEXIST, ENOENT, ENOSPC, EDQUOT, EIO}},
    {"renameat2", Install<&S::renameat2>, {EEXIST, EINVAL, ENOSYS, ENOSPC, EIO}},
    {"readlink", Install<&S::readlink>, {ENOENT, EACCES}},
    {"realpath", Install<&S::realpath>, {ENOENT, EACCES, ENOMEM}},
    {"getcwd", Install<&S::getcwd>, {ENOENT, EACCES, ERANGE}},
    {"pipe2", Install<&S::pipe2>, {EMFILE, ENFILE}},
    {"splice", Install<&S::splice, 4>, {EINVAL, EXDEV, ENOSYS, EOPNOTSUPP, EIO, EINTR, kShort}},
    {"statfs", Install<&S::statfs>, {EIO, EACCES, ENOSYS}},
    {"opendir", Install<&S::opendir>, {EACCES, EMFILE}},
    {"nanosleep", Install<&S::nanosleep>, {EINTR}},
    {"fork", Install<&S::fork>, {EAGAIN, ENOMEM}},
    {"close_range", Install<&S::close_range>, {ENOSYS, EPERM, EINVAL}},
    {"execv", Install<&S::execv>, {EACCES, ENOENT, ENOMEM, ETXTBSY}},
    {"waitpid", Install<&S::waitpid>, {EINTR, ECHILD}},
    {"calloc", Install<&S::calloc>, {ENOMEM}},
};

// --- the scenarios ---

using Folder = std::map<std::string, std::string>;

enum class Join { None, Payloads, Empty };

struct Scenario {
  const char* name;
  void (*change)(Folder&);  // to a sound set of three parts
  Join join;
  bool cancel;
  // As on a file system without unnamed files or moves inside the kernel
  // (some FUSE ones): a temporary name, and every block through the buffer.
  bool plainFileSystem;
};

std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

const Scenario kScenarios[] = {
    {"sound set", [](Folder&) {}, Join::Payloads, false, false},
    {"sound set, plain file system", [](Folder&) {}, Join::Payloads, false, true},
    {"cancel", [](Folder&) {}, Join::Payloads, true, false},
    {"missing part", [](Folder& f) { f.erase("NWD4_322.002"); }, Join::None, false, false},
    {"damaged part", [](Folder& f) { f["NWD4_322.003"][0] = 'X'; }, Join::None, false, false},
    {"size mismatch", [](Folder& f) { f["NWD4_322.002"] += '\0'; }, Join::None, false, false},
    {"count of zero",
     [](Folder& f) { f["NWD4_322.001"] = Text(testutil::HeaderBytes(testutil::Header(1, 0, 0))); },
     Join::Empty, false, false},
    {"output exists", [](Folder& f) { f[kOutput] = std::string(9, '\xEE'); }, Join::Payloads, false,
     false},
    {"output exists, plain file system", [](Folder& f) { f[kOutput] = std::string(9, '\xEE'); },
     Join::Payloads, false, true},
};

fake::Snapshot ReadFolder(const std::string& folder) {
  fake::Snapshot snapshot;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_symlink()) {
      snapshot.links[name] = fs::read_symlink(entry.path()).string();
    } else {
      const std::string bytes = posixtest::ReadFile(entry.path().string());
      snapshot.files[name].data.assign(bytes.begin(), bytes.end());
    }
  }
  return snapshot;
}

struct Launch {
  std::string path;
  int inherited;
  std::string bytes;
};

std::vector<Launch> ReadLaunches(const std::string& record) {
  std::vector<Launch> launches;
  const std::string text = posixtest::ReadFile(record);
  std::size_t at = 0;
  const auto field = [&] {
    const std::size_t end = text.find('\0', at);
    std::string value = text.substr(at, end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    return value;
  };
  while (at < text.size()) {
    Launch launch;
    launch.path = field();
    launch.inherited = std::atoi(field().c_str());
    const std::size_t size = std::strtoul(field().c_str(), nullptr, 10);
    launch.bytes = text.substr(at, size);
    at += size;
    launches.push_back(launch);
  }
  return launches;
}

struct Place {
  std::string folder;  // the working folder, made anew for every run
  std::string record;  // the opener's record
};

// What a run showed, to compare with the run without a fault.
struct Shown {
  Log texts;
  bool named;
};

// The scenario's run with the call at index failing at its nth occurrence
// with the error, or without a fault for nth 0. Adds what broke to broken;
// returns what was shown, or nothing when the run never made that call.
std::optional<Shown> RunOnce(const Place& place, const Scenario& scenario, int index, int error,
                             int nth, Log& broken) {
  std::error_code ignored;
  fs::remove_all(place.folder, ignored);
  fs::remove(place.record, ignored);
  fs::create_directories(place.folder);
  Folder parts;
  Bytes payloads;
  for (std::int32_t i = 1; i <= 3; ++i) {
    const Bytes payload = testutil::Payload(i == 1   ? 200
                                            : i == 2 ? 5
                                                     : 0,
                                            static_cast<unsigned>(i));
    parts[PartFileName(i)] = Text(testutil::Part(testutil::Header(i, 3, 205), payload));
    payloads.insert(payloads.end(), payload.begin(), payload.end());
  }
  scenario.change(parts);
  for (const auto& part : parts) posixtest::WriteFile(place.folder + "/" + part.first, part.second);
  if (::chdir(place.folder.c_str()) != 0) std::abort();
  const fake::Snapshot before = ReadFolder(place.folder);

  posix::UseKernelCopy(!scenario.plainFileSystem);
  posix::UseNamedTemporaries(scenario.plainFileSystem);
  g_screen = Screen{scenario.cancel, {}, {}, place.folder};
  *g_injection = Injection{nth > 0 ? index : -1, nth, error, 0, 0};
  try {
    CJoinApp app;
    AfxWinMain();
  } catch (...) {
    broken.push_back("an exception left the run");
  }
  g_injection->call = -1;
  // The opener and the process between, which this process adopts.
  while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {
  }
  if (nth > 0 && !g_injection->met) return std::nullopt;

  const fake::Snapshot after = ReadFolder(place.folder);
  const auto output = after.files.find(kOutput);
  const auto old = before.files.find(kOutput);
  const bool named = output != after.files.end() &&
                     (old == before.files.end() || !(output->second == old->second));
  const std::optional<Bytes> joined = scenario.join == Join::Payloads ? payloads
                                      : scenario.join == Join::Empty ? std::optional<Bytes>(Bytes())
                                                                     : std::nullopt;
  Log log;
  std::vector<fake::Message> messages;
  int notOpened = 0;
  // The report that the opener failed follows a join that succeeded; the
  // rules of the join's own messages leave it out.
  std::size_t shown = 0;
  for (const std::string& event : g_screen.log) {
    if (event.rfind("message ", 0) == 0) {
      const fake::Message& message = g_screen.messages[shown++];
      if (message.text.find(kNotOpened) != std::string::npos) {
        ++notOpened;
        continue;
      }
      messages.push_back(message);
    }
    log.push_back(event);
  }
  if (named) log.push_back(std::string("commit ") + kOutput);
  const std::string outputPath = place.folder + "/" + kOutput;
  const std::vector<Launch> launches = ReadLaunches(place.record);
  for (const Launch& launch : launches) {
    log.push_back("launch " + launch.path);
    if (!joined || launch.bytes != Text(*joined)) broken.push_back("the opener got no whole join");
    if (launch.inherited != 0) broken.push_back("the opener inherited a descriptor");
  }
  const bool fileOpen = !OpenInFolder().empty();
  for (std::string& rule : fake::BrokenRules(fake::Outcome{after.files, after.links, fileOpen,
                                                           false, false, log, messages, outputPath},
                                             before, kOutput, joined)) {
    broken.push_back(std::move(rule));
  }
  // Where the folder cannot be read again the logic starts nothing, and
  // says nothing.
  const bool askedToLaunch = index < 0 || std::string(kFaults[index].name) != "getcwd";
  if (notOpened != (named && launches.empty() && askedToLaunch ? 1 : 0)) {
    broken.push_back("the opener's failure is not reported once");
  }
  // A file error names the cause of the error the system gave.
  for (const fake::Message& message : messages) {
    for (int cause = CFileException::genericException; cause <= CFileException::endOfFile;
         ++cause) {
      if (fake::IsFileErrorText(message.text, cause) && cause != posix::FileErrorCause(error) &&
          !(cause == CFileException::badSeek && error == EINVAL)) {
        broken.push_back("a file error of cause " + std::to_string(cause) + " for errno " +
                         std::to_string(error));
      }
    }
  }
  Shown result{{}, named};
  for (const fake::Message& message : g_screen.messages) result.texts.push_back(message.text);
  return result;
}

TEST(SystemFaultMatrix, EverySystemCallFailingAtEveryOccurrenceKeepsTheRules) {
  const posixtest::TempFolder scratch;
  const Place place{scratch / "run", scratch / "opener-record"};
  // The opener on the only search path, and a descriptor without
  // close-on-exec, as a library may leave, that it must not inherit.
  fs::create_directories(scratch / "bin");
  fs::create_symlink(NWD_RECORDING_OPENER, scratch / "bin/xdg-open");
  ::setenv("PATH", (scratch / "bin").c_str(), 1);
  ::setenv("NWD_OPENER_RECORD", place.record.c_str(), 1);
  const int libraryFd = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(libraryFd, 0);
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  void* shared =
      ::mmap(nullptr, sizeof(Injection), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  g_injection = new (shared) Injection;
  const posix::SystemCalls system = posix::sys;
  // The flush to the disk is the one call that costs more than the rest of
  // a run, and proves nothing here: only its failures are the system's.
  g_real.fdatasync = [](int) { return 0; };
  for (std::size_t i = 0; i < std::size(kFaults); ++i) kFaults[i].install(static_cast<int>(i));

  matrix::Tally tally([](const std::string& line) { ADD_FAILURE() << line; });
  for (const Scenario& scenario : kScenarios) {
    Log broken;
    const Shown clean = *RunOnce(place, scenario, -1, 0, 0, broken);
    if (clean.named != (scenario.join != Join::None && !scenario.cancel)) {
      broken.push_back("the run without a fault did not end as it should");
    }
    tally.Judge(std::string(scenario.name) + ", no fault", broken);

    for (std::size_t call = 0; call < std::size(kFaults); ++call) {
      for (const int error : kFaults[call].errors) {
        for (int nth = 1;; ++nth) {
          broken.clear();
          const std::optional<Shown> shown =
              RunOnce(place, scenario, static_cast<int>(call), error, nth, broken);
          if (!shown) break;
          // What the backend takes again or makes up for must not show.
          if ((error == EINTR || error == kShort) &&
              (shown->texts != clean.texts || shown->named != clean.named)) {
            broken.push_back("a call taken again did not end as the run without a fault");
          }
          tally.Judge(std::string(scenario.name) + ", " + kFaults[call].name + " #" +
                          std::to_string(nth) + " failing with " +
                          (error == kShort ? "a short count" : std::strerror(error)),
                      broken);
        }
      }
    }
  }
  posix::sys = system;
  ::close(libraryFd);
  tally.Print("system fault matrix");
  EXPECT_EQ(tally.violations(), 0);
}

}  // namespace

// --- the windows, scripted ---

BOOL CWnd::IsIconic() const { return FALSE; }
void CWnd::SetIcon(HICON, BOOL) {}
void CWnd::GetClientRect(CRect* rect) const { *rect = CRect{0, 0, 160, 40}; }
std::intptr_t CWnd::SendMessage(UINT, std::uintptr_t, std::intptr_t) { return 0; }
CPaintDC::CPaintDC(CWnd*) {}
CPaintDC::~CPaintDC() = default;
void CPaintDC::DrawIcon(int, int, HICON) {}
int GetSystemMetrics(int) { return 32; }

namespace platform {

// Execute, and once more if the dialog stays open after an error; or
// Cancel.
INT_PTR RunModalDialog(CDialog& dialog) {
  dialog.m_hWnd = &dialog;
  g_screen.log.push_back("dialog-shown " + std::to_string(dialog.GetTemplateId()));
  dialog.OnInitDialog();
  for (int press = 0; !dialog.IsEnded(); ++press) {
    const bool execute = !g_screen.cancel && press < 2;
    g_screen.log.push_back(execute ? "user Execute" : "user Cancel");
    dialog.OnCommand(execute ? IDOK : IDCANCEL);
  }
  g_screen.log.push_back("dialog-ended " + std::to_string(dialog.GetResult()));
  dialog.m_hWnd = nullptr;
  return dialog.GetResult();
}

int ShowMessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) {
  fake::Message message{};
  message.text = text;
  message.caption = caption;
  message.type = type;
  message.owner = owner;
  message.openFiles = OpenInFolder();
  g_screen.messages.push_back(message);
  g_screen.log.push_back("message " + text);
  return IDOK;
}

BOOL StartHelpViewer(const std::string&, DWORD) { return FALSE; }

HICON LoadIconResource(UINT) { return nullptr; }

// The clock stands still: these joins show no progress window, which the
// fake's matrix covers.
std::uint64_t TickCount() { return 0; }
void* CreateProgressWindow(const std::string&, const std::string&) { return nullptr; }
bool UpdateProgressWindow(void*, std::uint64_t, std::uint64_t) { return true; }
void DestroyProgressWindow(void*) {}

}  // namespace platform

// Freed memory that the address sanitizer holds back makes every fork of
// this process slower, and the launch forks twice in hundreds of runs.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=4"; }
