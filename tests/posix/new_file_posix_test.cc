// New files over real file systems: the name holds nothing until the file is
// whole, whichever way the run ends, and whether the file system lends an
// unnamed file or the backend must use a temporary name.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file.h"
#include "platform/posix/file_posix.h"
#include "platform/system.h"
#include "tests/posix/posix_test_util.h"

namespace {

// The flushes of new files, seen through the fdatasync below.
struct FlushWatch {
  std::string name;        // the name the file is to take
  int error = 0;           // the error the flush fails with, 0 for none
  int calls = 0;           // flushes seen
  bool nameTaken = false;  // the name held a file at a flush
};
FlushWatch g_flush;

}  // namespace

// Takes the C library's place for the backend linked into these tests: the
// flush can fail as a failing disk's does, and it shows whether the file
// still had no name when it was flushed.
extern "C" int fdatasync(int fd) {
  ++g_flush.calls;
  if (!g_flush.name.empty() && posixtest::Exists(g_flush.name)) g_flush.nameTaken = true;
  if (g_flush.error != 0) {
    errno = g_flush.error;
    return -1;
  }
  static const auto real = reinterpret_cast<int (*)(int)>(::dlsym(RTLD_NEXT, "fdatasync"));
  return real(fd);
}

namespace {

using posixtest::ReadFile;
using posixtest::TempFolder;
using posixtest::WriteFile;

std::vector<std::string> Listing(const TempFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Both ways of keeping the name free, restored to the usual one afterwards.
class NewFilePosix : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { posix::UseNamedTemporaries(GetParam()); }
  void TearDown() override { posix::UseNamedTemporaries(false); }
};

TEST_P(NewFilePosix, NameHoldsTheFileOnlyOnceItIsCommittedAndNeverReplacesOne) {
  TempFolder folder;
  const std::string name = folder / "SETUP.EXE";
  {
    CNewFile file;
    ASSERT_TRUE(file.Create(name));
    file.Write("installer", 9);
    // Not under the name, and nothing under any name a launcher would run.
    for (const std::string& entry : Listing(folder)) {
      EXPECT_EQ(entry.find(".incomplete"), entry.size() - 11) << entry;
    }
    EXPECT_EQ(file.GetFilePath(), name);
    EXPECT_TRUE(file.Commit());
  }
  EXPECT_EQ(ReadFile(name), "installer");
  EXPECT_EQ(Listing(folder), std::vector<std::string>{"SETUP.EXE"});

  // The name is taken: by an old file at the start, by a planted one at the end.
  CNewFile second;
  EXPECT_FALSE(second.Create(name));
  ASSERT_EQ(::unlink(name.c_str()), 0);
  ASSERT_TRUE(second.Create(name));
  second.Write("new", 3);
  WriteFile(name, "planted");
  EXPECT_FALSE(second.Commit());
  EXPECT_EQ(ReadFile(name), "planted");
  EXPECT_EQ(Listing(folder), std::vector<std::string>{"SETUP.EXE"});

  // Dropped, by Discard or by going out of scope: nothing stays.
  ASSERT_EQ(::unlink(name.c_str()), 0);
  {
    CNewFile dropped;
    ASSERT_TRUE(dropped.Create(name));
    dropped.Write("partial", 7);
  }
  EXPECT_TRUE(Listing(folder).empty());
}

TEST_P(NewFilePosix, FlushComesBeforeTheNameAndAFailingOneDropsTheFile) {
  struct Case {
    int error;
    int cause;
    long osError;
  };
  for (const Case& c : {Case{0, CFileException::none, 0}, Case{EIO, CFileException::hardIO, EIO},
                        Case{ENOSPC, CFileException::diskFull, -1}}) {
    SCOPED_TRACE(c.error);
    TempFolder folder;
    const std::string name = folder / "SETUP.EXE";
    g_flush = FlushWatch{name, c.error};
    CNewFile file;
    ASSERT_TRUE(file.Create(name));
    file.Write("installer", 9);
    try {
      EXPECT_TRUE(file.Commit());
      EXPECT_EQ(c.error, 0);
      EXPECT_EQ(ReadFile(name), "installer");
    } catch (const CFileException& e) {
      EXPECT_EQ(e.m_cause, c.cause);
      EXPECT_EQ(e.m_lOsError, c.osError);
      EXPECT_EQ(e.m_strFileName, name);
      EXPECT_TRUE(Listing(folder).empty());
    }
    EXPECT_EQ(g_flush.calls, 1);
    EXPECT_FALSE(g_flush.nameTaken);
    g_flush = FlushWatch{};
  }
}

TEST_P(NewFilePosix, SignalThatEndsTheRunLeavesNothing) {
  // Only SIGKILL cannot be caught: a temporary name may then stay, never
  // the file's own.
  for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGKILL}) {
    SCOPED_TRACE(signal);
    TempFolder folder;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CNewFile file;
      if (!file.Create(folder / "SETUP.EXE")) ::_exit(1);
      file.Write("partial", 7);
      ::raise(signal);
      ::_exit(2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), signal);
    const std::vector<std::string> left = Listing(folder);
    if (GetParam() && signal == SIGKILL) {
      ASSERT_EQ(left.size(), 1u);
      EXPECT_EQ(left[0], "SETUP.EXE." + std::to_string(child) + ".incomplete");
    } else {
      EXPECT_TRUE(left.empty()) << left.front();
    }
  }
}

TEST_P(NewFilePosix, SignalIgnoredAtTheStartStaysIgnored) {
  // Started under nohup: the terminal that hangs up meanwhile ends nothing.
  TempFolder folder;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGHUP, SIG_IGN);
    CNewFile file;
    if (!file.Create(folder / "SETUP.EXE")) ::_exit(1);
    file.Write("whole", 5);
    ::raise(SIGHUP);
    ::_exit(file.Commit() ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(posixtest::ReadFile(folder / "SETUP.EXE"), "whole");
}

INSTANTIATE_TEST_SUITE_P(UnnamedOrTemporaryName, NewFilePosix, ::testing::Bool());

TEST(FileIdPosix, EveryNameOfAFileGivesItsIdentity) {
  TempFolder folder;
  const std::string part = folder / "NWD4_322.003";
  WriteFile(part, "part");
  WriteFile(folder / "other", "part");
  ASSERT_EQ(::symlink("NWD4_322.003", (folder / "symbolic").c_str()), 0);
  ASSERT_EQ(::link(part.c_str(), (folder / "hard").c_str()), 0);
  CFileId id, alias;
  ASSERT_TRUE(GetFileId(part, id));
  for (const char* name : {"symbolic", "hard"}) {
    ASSERT_TRUE(GetFileId(folder / name, alias)) << name;
    EXPECT_TRUE(alias == id) << name;
  }
  ASSERT_TRUE(GetFileId(folder / "other", alias));
  EXPECT_FALSE(alias == id);
  EXPECT_FALSE(GetFileId(folder / "missing", alias));
}

}  // namespace
