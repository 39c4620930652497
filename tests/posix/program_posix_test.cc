// The built program, run in a folder of parts without a display: its
// messages come out on standard error, no dialog can be shown, and the exit
// status tells the failure.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/posix/posix_test_util.h"
#include "tests/test_util.h"

namespace {

using posixtest::ReadFile;
using posixtest::TempFolder;
using posixtest::WriteFile;

struct ProgramRun {
  int status = -1;
  std::string output;
  std::string errors;
};

// Runs the program in folder without a display (or with DISPLAY set to
// display), its streams caught in files. fileDeleted: from a copy of its
// file deleted once opened, as when the file is replaced while the program
// runs.
ProgramRun RunProgram(const TempFolder& folder, const TempFolder& streams, bool fileDeleted = false,
                      const char* argument = nullptr, const char* display = nullptr) {
  const std::string out = streams / "stdout";
  const std::string err = streams / "stderr";
  const std::string copy = streams / "NWD4_322";
  if (fileDeleted) std::filesystem::copy_file(NWD_PROGRAM, copy);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(folder.path().c_str()) != 0) ::_exit(126);
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int nullFd = ::open("/dev/null", O_RDONLY);
    if (outFd < 0 || errFd < 0 || nullFd < 0) ::_exit(126);
    ::dup2(nullFd, STDIN_FILENO);
    ::dup2(outFd, STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    if (display) ::setenv("DISPLAY", display, 1);
    char* const argv[] = {const_cast<char*>("NWD4_322"), const_cast<char*>(argument), nullptr};
    if (fileDeleted) {
      const int programFd = ::open(copy.c_str(), O_RDONLY | O_CLOEXEC);
      ::unlink(copy.c_str());
      ::fexecve(programFd, argv, environ);
    } else {
      ::execv(NWD_PROGRAM, argv);
    }
    ::_exit(127);
  }
  ProgramRun run;
  if (child < 0) return run;
  ::waitpid(child, &run.status, 0);
  run.output = ReadFile(out);
  run.errors = ReadFile(err);
  return run;
}

std::string Bytes(const std::vector<unsigned char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(ProgramPosix, SaysWhenTheFirstPartIsMissingOrDamaged) {
  TempFolder streams;
  {
    TempFolder folder;
    const ProgramRun run = RunProgram(folder, streams);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_NE(WEXITSTATUS(run.status), 127);
    EXPECT_EQ(run.output, "");
    EXPECT_NE(run.errors.find("NWD4_322.001 が見つかりません。"), std::string::npos) << run.errors;
  }
  {
    TempFolder folder;
    WriteFile(folder / "NWD4_322.001", "DIVINFO but far too short");
    const ProgramRun run = RunProgram(folder, streams);
    EXPECT_NE(run.errors.find("NWD4_322.001 を正しく読み込む事ができません。"), std::string::npos)
        << run.errors;
  }
}

TEST(ProgramPosix, StatusIsAFailureWheneverOneWasReportedAndTheDisplayIsNamed) {
  const std::vector<unsigned char> payload = testutil::Payload(100, 1);
  const std::string sound = Bytes(testutil::Part(testutil::Header(1, 1, 100), payload));
  const struct {
    const char* name;
    std::string firstPart;  // "" for none
    const char* argument;
    const char* display;
    std::string errors;
  } cases[] = {
      {"first part missing", "", nullptr, nullptr,
       "NWD4_322: NWD4_322.001 が見つかりません。\n終了します。\n"},
      {"an unknown argument changes nothing", "", "-x", nullptr,
       "NWD4_322: NWD4_322.001 が見つかりません。\n終了します。\n"},
      {"no display", sound, nullptr, nullptr,
       "NWD4_322: no display to show the dialog on: DISPLAY is not set\n"},
      {"not a display name", sound, nullptr, "no-colon",
       "NWD4_322: cannot show the dialog on display \"no-colon\": not a display name\n"},
      {"no server on the display", sound, nullptr, ":4711",
       "NWD4_322: cannot show the dialog on display \":4711\": no X server runs there\n"},
  };
  TempFolder streams;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    if (!c.firstPart.empty()) WriteFile(folder / "NWD4_322.001", c.firstPart);
    const ProgramRun run = RunProgram(folder, streams, false, c.argument, c.display);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 1);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors, c.errors);
    EXPECT_FALSE(posixtest::Exists(folder / "SETUP.EXE"));
  }
}

TEST(ProgramPosix, HelpAndVersionAnswerOnStandardOutput) {
  TempFolder streams;
  TempFolder folder;  // no parts: nothing but the answer may happen
  const ProgramRun help = RunProgram(folder, streams, false, "--help");
  ASSERT_TRUE(WIFEXITED(help.status));
  EXPECT_EQ(WEXITSTATUS(help.status), 0);
  EXPECT_EQ(help.output.rfind("Usage: NWD4_322 ", 0), 0u) << help.output;
  EXPECT_EQ(help.errors, "");
  const ProgramRun version = RunProgram(folder, streams, false, "--version");
  ASSERT_TRUE(WIFEXITED(version.status));
  EXPECT_EQ(WEXITSTATUS(version.status), 0);
  EXPECT_EQ(version.output, "NWD4_322 " NWD_VERSION "\n");
  EXPECT_EQ(version.errors, "");
}

TEST(ProgramPosix, CaptionIsTheProgramsNameAlsoWhenItsFileWasReplaced) {
  // The system adds " (deleted)" to the path of a program file replaced
  // while it runs.
  TempFolder streams;
  TempFolder folder;  // no parts: the not-found message
  const ProgramRun run = RunProgram(folder, streams, true);
  EXPECT_EQ(run.errors, "NWD4_322: NWD4_322.001 が見つかりません。\n終了します。\n");
}

}  // namespace
