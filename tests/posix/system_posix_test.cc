// System services on the real system: the current folder, the program's
// own name, Shift-JIS decoding whatever the locale, and handing a file to the
// desktop's opener.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <string>

#include "gtest/gtest.h"
#include "platform/backend.h"
#include "platform/posix/launch_posix.h"
#include "platform/system.h"
#include "tests/posix/posix_test_util.h"

namespace {

using posixtest::Exists;
using posixtest::ReadFile;
using posixtest::TempFolder;
using posixtest::WriteFile;

// Puts the current folder back when a test has moved it.
class CurrentFolderGuard {
 public:
  CurrentFolderGuard() : fd_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
  ~CurrentFolderGuard() {
    if (::fchdir(fd_) != 0) std::abort();
    ::close(fd_);
  }

 private:
  int fd_;
};

class EnvironmentGuard {
 public:
  explicit EnvironmentGuard(const char* name) : name_(name) {
    const char* value = std::getenv(name);
    hadValue_ = value != nullptr;
    if (value) value_ = value;
  }
  ~EnvironmentGuard() {
    if (hadValue_) {
      ::setenv(name_, value_.c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool hadValue_;
  std::string value_;
};

// Waits a bounded while for a file that another process writes.
bool AppearsSoon(const std::string& path) {
  for (int i = 0; i < 1000; ++i) {
    if (Exists(path)) return true;
    ::usleep(10000);
  }
  return false;
}

TEST(CurrentFolderPosix, DeepFolderIsGivenWholeAndADeletedOneNotAtAll) {
  TempFolder folder;
  CurrentFolderGuard guard;
  ASSERT_EQ(::chdir(folder.path().c_str()), 0);
  // Far beyond both the 259 bytes of the original system and a first guess
  // at a buffer.
  const std::string level(200, 'd');
  for (int i = 0; i < 30; ++i) {
    ASSERT_EQ(::mkdir(level.c_str(), 0700), 0);
    ASSERT_EQ(::chdir(level.c_str()), 0);
  }
  char* resolved = ::realpath(folder.path().c_str(), nullptr);
  ASSERT_NE(resolved, nullptr);
  std::string expected = resolved;
  ::free(resolved);
  for (int i = 0; i < 30; ++i) expected += "/" + level;

  std::string current;
  ASSERT_TRUE(GetCurrentFolder(current));
  EXPECT_EQ(current, expected);

  ASSERT_EQ(::rmdir((std::string("../") + level).c_str()), 0);
  current = "unchanged";
  EXPECT_FALSE(GetCurrentFolder(current));
  EXPECT_EQ(current, "unchanged");
}

TEST(ProgramNamePosix, NamesTheRunningProgramFile) {
  EXPECT_EQ(GetProgramFileName(), "posix_tests");
  const std::string path = GetProgramPath();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '/');
  char* resolved = ::realpath(NWD_TEST_PROGRAM, nullptr);
  ASSERT_NE(resolved, nullptr);
  EXPECT_EQ(path, resolved);
  ::free(resolved);
}

TEST(DecodeCodePage932Posix, SameTextWhateverTheLocale) {
  // Katakana, half-width katakana, the wave dash that code page 932 maps
  // differently from plain Shift-JIS, and one of its own circled digits.
  const std::string bytes = "\x83\x5A\x83\x62\x83\x67\xB1\xB2\x81\x60\x87\x40.EXE";
  const std::string expected = "セットｱｲ～①.EXE";
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  for (const char* locale : {"C", "POSIX", "C.UTF-8"}) {
    SCOPED_TRACE(locale);
    ASSERT_NE(std::setlocale(LC_ALL, locale), nullptr);
    std::string text;
    EXPECT_TRUE(DecodeCodePage932(bytes.data(), bytes.size(), text));
    EXPECT_EQ(text, expected);
    // A lead byte without its second byte, and one followed by a byte that
    // cannot end a character.
    EXPECT_FALSE(DecodeCodePage932("AB\x83", 3, text));
    EXPECT_FALSE(DecodeCodePage932("\x83\x0A", 2, text));
  }
  std::setlocale(LC_ALL, previous.c_str());
}

// A stand-in for the desktop's opener that tells how it was started, then
// stays in the foreground a while as a real handler might, and ends with
// the last command.
void WriteLauncherStub(const std::string& path, const std::string& records, int pauseSeconds,
                       const std::string& last = "exit 0") {
  WriteFile(path,
            "#!/bin/sh\n"
            "out='" +
                records +
                "'\n"
                "read -r _ _ _ _ _ sid _ < /proc/$$/stat\n"
                "echo \"$sid\" > \"$out/session\"\n"
                "streams=$(readlink /proc/$$/fd/0 /proc/$$/fd/1 /proc/$$/fd/2)\n"
                "echo \"$streams\" > \"$out/streams\"\n"
                "{ printf '%s\\n' \"$#\"; printf '%s' \"$1\"; } > \"$out/args.tmp\"\n"
                "mv \"$out/args.tmp\" \"$out/args\"\n"
                "sleep " +
                std::to_string(pauseSeconds) +
                "\n"
                ": > \"$out/done\"\n" +
                last + "\n");
  ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
}

// Short for a test; the program waits longer.
constexpr int kBound = 300;

TEST(LaunchFilePosix, HandsTheExactPathToTheOpenerAndDoesNotWaitPastTheBound) {
  TempFolder folder;
  ASSERT_EQ(::mkdir((folder / "bin").c_str(), 0700), 0);
  WriteLauncherStub(folder / "bin/xdg-open", folder.path(), 2);
  EnvironmentGuard pathGuard("PATH");
  const char* oldPath = std::getenv("PATH");
  ::setenv("PATH", (folder / "bin:" + (oldPath ? oldPath : "/usr/bin:/bin")).c_str(), 1);

  const std::string target = folder / "お試し フォルダ/SET UP 1.EXE";
  EXPECT_EQ(posix::StartOpener(target, kBound), posix::OpenerResult::Running);
  // Returned while the opener still runs, and left nothing to reap.
  EXPECT_FALSE(Exists(folder / "done"));
  int status;
  const pid_t reaped = ::waitpid(-1, &status, WNOHANG);
  EXPECT_TRUE(reaped == 0 || (reaped < 0 && errno == ECHILD)) << "reaped " << reaped;

  ASSERT_TRUE(AppearsSoon(folder / "args"));
  EXPECT_EQ(ReadFile(folder / "args"), "1\n" + target);
  EXPECT_EQ(ReadFile(folder / "streams"), "/dev/null\n/dev/null\n/dev/null\n");
  EXPECT_NE(std::stol(ReadFile(folder / "session")), static_cast<long>(::getsid(0)));
  // Its folder goes when the test ends: let it finish first.
  EXPECT_TRUE(AppearsSoon(folder / "done"));
}

TEST(LaunchFilePosix, OpenerIsNeverTakenFromTheWorkingFolder) {
  TempFolder folder;
  TempFolder records;
  TempFolder decoyRecords;
  ASSERT_EQ(::mkdir((folder / "bin").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir((folder / "relative").c_str(), 0700), 0);
  WriteLauncherStub(folder / "xdg-open", decoyRecords.path(), 0);
  WriteLauncherStub(folder / "relative/xdg-open", decoyRecords.path(), 0);
  WriteLauncherStub(folder / "bin/xdg-open", records.path(), 0);
  CurrentFolderGuard folderGuard;
  ASSERT_EQ(::chdir(folder.path().c_str()), 0);
  EnvironmentGuard pathGuard("PATH");
  const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";

  // Nothing to start: nothing happens.
  ::setenv("PATH", (folder / "none").c_str(), 1);
  EXPECT_EQ(posix::StartOpener(folder / "SETUP.EXE", kBound), posix::OpenerResult::Missing);
  int status;
  EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);

  // Empty and relative entries name the working folder; only the absolute
  // one counts.
  ::setenv("PATH", (":relative:.:" + folder / "bin:" + oldPath).c_str(), 1);
  EXPECT_EQ(posix::StartOpener(folder / "SETUP.EXE", kBound), posix::OpenerResult::Succeeded);
  ASSERT_TRUE(AppearsSoon(records / "args"));
  EXPECT_FALSE(Exists(decoyRecords / "args"));
  EXPECT_TRUE(AppearsSoon(records / "done"));
}

TEST(LaunchFilePosix, VerdictIsHowTheOpenerEndedWithinTheBound) {
  const struct {
    int pauseSeconds;
    const char* last;
    posix::OpenerResult expected;
  } cases[] = {
      {0, "exit 0", posix::OpenerResult::Succeeded},
      {0, "exit 3", posix::OpenerResult::Failed},  // xdg-open: nothing to open it with
      {0, "kill -KILL $$", posix::OpenerResult::Failed},
      {0, "exec /nonexistent/handler", posix::OpenerResult::Failed},
      {5, "exit 3", posix::OpenerResult::Running},  // it gave up only after the bound
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    TempFolder folder;
    ASSERT_EQ(::mkdir((folder / "bin").c_str(), 0700), 0);
    WriteLauncherStub(folder / "bin/xdg-open", folder.path(), c.pauseSeconds, c.last);
    EnvironmentGuard pathGuard("PATH");
    ::setenv("PATH", (folder / "bin:/usr/bin:/bin").c_str(), 1);
    EXPECT_EQ(posix::StartOpener(folder / "SETUP.EXE", kBound), c.expected);
    ASSERT_TRUE(AppearsSoon(folder / "args"));
    EXPECT_EQ(Exists(folder / "done"), c.pauseSeconds == 0);
    int status;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1) << "a child of ours was left";
  }
}

TEST(ProcessPosix, WriteToAClosedPipeFailsInsteadOfEndingTheProcess) {
  const std::string report = posixtest::ReportFromChild([] {
    platform::InitProcess();
    int fds[2];
    if (::pipe(fds) != 0) return std::string("no pipe");
    ::close(fds[0]);
    const bool failed = ::write(fds[1], "x", 1) < 0 && errno == EPIPE;
    return std::string(failed ? "EPIPE" : "written");
  });
  EXPECT_EQ(report, "EPIPE");
}

}  // namespace
