// CFile and DeleteFile over real files: exclusive opening between processes
// and within one, what may be opened, and the errors each operation raises.
#include "platform/posix/file_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file.h"
#include "platform/system.h"
#include "tests/posix/posix_test_util.h"

namespace {

using posixtest::Exists;
using posixtest::OpenerProcess;
using posixtest::ReadFile;
using posixtest::TempFolder;
using posixtest::WriteFile;

constexpr UINT kRead = CFile::modeRead;
constexpr UINT kCreate = CFile::modeCreate | CFile::modeWrite;

struct OpenerPair {
  const char* name;
  UINT first;
  UINT second;
};

constexpr OpenerPair kOpenerPairs[] = {
    {"reader then reader", kRead, kRead},
    {"reader then writer", kRead, kCreate},
    {"writer then reader", kCreate, kRead},
    {"writer then writer", kCreate, kCreate},
};

// Stops a test that would otherwise hang in an open that waits.
class HangGuard {
 public:
  HangGuard() { ::alarm(10); }
  ~HangGuard() { ::alarm(0); }
};

TEST(FilePosixExclusive, SecondOpenerInThisProcessIsRefusedUntilTheFirstCloses) {
  TempFolder folder;
  const std::string path = folder / "NWD4_322.001";
  for (const OpenerPair& pair : kOpenerPairs) {
    SCOPED_TRACE(pair.name);
    WriteFile(path, "payload");
    CFile first;
    ASSERT_TRUE(first.Open(path, pair.first));
    CFile second;
    EXPECT_FALSE(second.Open(path, pair.second));
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_TRUE(second.Open(path, pair.second));
  }
}

TEST(FilePosixExclusive, OpenerInAnotherProcessIsRefused) {
  TempFolder folder;
  const std::string path = folder / "NWD4_322.001";
  for (const OpenerPair& pair : kOpenerPairs) {
    SCOPED_TRACE(pair.name);
    WriteFile(path, "payload");
    {
      // The other program holds the file: this one is refused.
      OpenerProcess other(path, pair.first);
      ASSERT_TRUE(other.opened());
      CFile file;
      EXPECT_FALSE(file.Open(path, pair.second));
    }
    {
      // This program holds it: the other one is refused.
      CFile file;
      ASSERT_TRUE(file.Open(path, pair.first));
      OpenerProcess other(path, pair.second);
      EXPECT_FALSE(other.opened());
    }
    OpenerProcess afterwards(path, pair.second);
    EXPECT_TRUE(afterwards.opened());
  }
}

// A holder that lets go within the second is waited for; one that holds on
// still keeps the file, and the wait ends. After that wait, a held file is
// not waited for again: a whole set held costs one second, not one a part.
TEST(FilePosixExclusive, HolderThatLetsGoSoonIsWaitedForOneThatDoesNotIsNot) {
  TempFolder folder;
  const std::string path = folder / "NWD4_322.002";
  WriteFile(path, "payload");
  struct Case {
    int heldMs;
    bool opens;
    int boundMs;
  };
  for (const Case& c : {Case{300, true, 3000}, Case{5000, false, 3000}, Case{300, false, 200}}) {
    SCOPED_TRACE(c.heldMs);
    HangGuard guard;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
      CFile held;
      const char opened = held.Open(path, kRead) ? '1' : '0';
      if (::write(ready[1], &opened, 1) != 1) ::_exit(1);
      ::usleep(c.heldMs * 1000);
      ::_exit(0);
    }
    char opened = '0';
    ASSERT_EQ(::read(ready[0], &opened, 1), 1);
    ASSERT_EQ(opened, '1');
    const auto start = std::chrono::steady_clock::now();
    CFile file;
    EXPECT_EQ(file.Open(path, kRead) != FALSE, c.opens);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(c.boundMs));
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
  }
}

TEST(FilePosixExclusive, CreatingAHeldFileLeavesItsContentsAlone) {
  TempFolder folder;
  const std::string path = folder / "SETUP.EXE";
  WriteFile(path, "held by a reader");
  {
    CFile reader;
    ASSERT_TRUE(reader.Open(path, kRead));
    CFile writer;
    EXPECT_FALSE(writer.Open(path, kCreate));
  }
  EXPECT_EQ(ReadFile(path), "held by a reader");
  {
    OpenerProcess reader(path, kRead);
    ASSERT_TRUE(reader.opened());
    CFile writer;
    EXPECT_FALSE(writer.Open(path, kCreate));
  }
  EXPECT_EQ(ReadFile(path), "held by a reader");
}

TEST(FilePosixExclusive, ProgramStartedWhileAFileIsOpenDoesNotKeepItLocked) {
  TempFolder folder;
  const std::string path = folder / "SETUP.EXE";
  CFile file;
  ASSERT_TRUE(file.Open(path, kCreate));
  const pid_t started = ::fork();
  ASSERT_GE(started, 0);
  if (started == 0) {
    ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // The started program has replaced its image once it runs something else.
  for (int i = 0; i < 1000 && ReadFile("/proc/" + std::to_string(started) + "/comm") != "sleep\n";
       ++i) {
    ::usleep(10000);
  }
  file.Close();
  CFile again;
  EXPECT_TRUE(again.Open(path, kRead));
  ::kill(started, SIGKILL);
  int status;
  ::waitpid(started, &status, 0);
}

std::vector<std::string> g_opened;  // the paths given to open, in order

TEST(FilePosixOpen, OnlyRegularFilesOpenAndNothingWaits) {
  // Nothing else is even opened: opening some devices has effects of its
  // own, and a FIFO's writer would go on.
  posixtest::SystemCallsRestored restored;
  g_opened.clear();
  posix::sys.open = [](const char* path, int flags, mode_t mode) {
    g_opened.push_back(path);
    return posixtest::kSystem.open(path, flags, mode);
  };
  TempFolder folder;
  const std::string fifo = folder / "NWD4_322.001";
  const std::string directory = folder / "NWD4_322.002";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
  HangGuard guard;
  for (const std::string& path : {fifo, directory, std::string("/dev/null")}) {
    SCOPED_TRACE(path);
    CFile reader;
    EXPECT_FALSE(reader.Open(path, kRead));
    EXPECT_FALSE(reader.IsOpen());
    CFile writer;
    EXPECT_FALSE(writer.Open(path, kCreate));
  }
  for (const std::string& path : g_opened) {
    EXPECT_TRUE(path != fifo && path != directory && path != "/dev/null") << path;
  }
  struct stat st;
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(FilePosixOpen, MissingFileOrFolderFailsWithoutThrowing) {
  TempFolder folder;
  WriteFile(folder / "plain", "x");
  CFile file;
  EXPECT_FALSE(file.Open(folder / "NWD4_322.001", kRead));
  EXPECT_FALSE(file.Open(folder / "no folder/SETUP.EXE", kCreate));
  EXPECT_FALSE(file.Open(folder / "plain/SETUP.EXE", kCreate));
  EXPECT_FALSE(file.Open("", kRead));
  EXPECT_FALSE(Exists(folder / "NWD4_322.001"));
}

TEST(FilePosixOpen, BareNameIsTakenFromTheCurrentFolderAndReportedWithIt) {
  TempFolder folder;
  const std::string name = "出力 ファイル.EXE";
  const int previous = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(previous, 0);
  ASSERT_EQ(::chdir(folder.path().c_str()), 0);
  std::string path;
  {
    CFile file;
    ASSERT_TRUE(file.Open(name, kCreate));
    path = file.GetFilePath();
  }
  ASSERT_EQ(::fchdir(previous), 0);
  ::close(previous);
  char* resolved = ::realpath(folder.path().c_str(), nullptr);
  ASSERT_NE(resolved, nullptr);
  EXPECT_EQ(path, std::string(resolved) + "/" + name);
  ::free(resolved);
  EXPECT_TRUE(Exists(folder / name));
}

TEST(FilePosixOpen, CreateEmptiesAnOldFileAndMakesANewOneByTheUmask) {
  TempFolder folder;
  const std::string old = folder / "old.exe";
  WriteFile(old, "old contents");
  {
    CFile file;
    ASSERT_TRUE(file.Open(old, kCreate));
    EXPECT_EQ(file.GetLength(), 0u);
  }
  EXPECT_EQ(ReadFile(old), "");

  const mode_t previous = ::umask(027);
  {
    CFile file;
    EXPECT_TRUE(file.Open(folder / "new.exe", kCreate));
  }
  ::umask(previous);
  struct stat st;
  ASSERT_EQ(::stat((folder / "new.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST(FilePosixOpen, CreateNeverGoesThroughALink) {
  TempFolder folder;
  const std::string part = folder / "NWD4_322.001";
  WriteFile(part, "part contents");
  ASSERT_EQ(::symlink(part.c_str(), (folder / "SETUP.EXE").c_str()), 0);
  CFile file;
  EXPECT_FALSE(file.Open(folder / "SETUP.EXE", kCreate));
  EXPECT_EQ(ReadFile(part), "part contents");
}

TEST(FilePosixReadWrite, ReadIsShortOnlyAtTheEndOfTheFile) {
  TempFolder folder;
  const std::string path = folder / "part";
  WriteFile(path, "0123456789");
  CFile file;
  ASSERT_TRUE(file.Open(path, kRead));
  char buffer[100];
  EXPECT_EQ(file.Read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 6u);
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(file.Read(buffer, 0), 0u);

  // The kernel hands this file out at most a page per call: the read goes on
  // to its end all the same.
  CFile smaps;
  ASSERT_TRUE(smaps.Open("/proc/self/smaps", kRead));
  std::vector<char> all(1 << 22);
  EXPECT_GT(smaps.Read(all.data(), static_cast<UINT>(all.size())), 16384u);
}

TEST(FilePosixReadWrite, WriteCutShortIsDiskFullNamingTheFile) {
  TempFolder folder;
  const std::string path = folder / "SETUP.EXE";
  constexpr rlim_t kLimit = 1000;
  // The size limit and its signal are the child's alone.
  const std::string report = posixtest::ReportFromChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {kLimit, kLimit};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string text = "no exception";
    CFile file;
    if (!file.Open(path, kCreate)) return std::string("not opened");
    const std::vector<char> block(4096, 'x');
    file.Write(block.data(), 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
      // The first write stops at the limit, the second one cannot start.
      try {
        file.Write(block.data(), static_cast<UINT>(block.size()));
        text += " | wrote";
      } catch (const CFileException& e) {
        text += " | " + std::to_string(e.m_cause) + " " + std::to_string(e.m_lOsError) + " " +
                e.m_strFileName;
      }
    }
    return text;
  });

  const std::string expected = " | 13 -1 " + path;
  EXPECT_EQ(report, "no exception" + expected + expected);
  EXPECT_EQ(ReadFile(path).size(), kLimit);
}

TEST(FilePosixSeek, PositionsAreSixtyFourBitAndBeforeTheStartIsABadSeek) {
  TempFolder folder;
  const std::string path = folder / "sparse";
  constexpr std::uint64_t kLength = 5ull << 30;  // beyond any 32-bit count
  WriteFile(path, "");
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kLength)), 0);
  {
    CFile file;
    ASSERT_TRUE(file.Open(path, kRead));
    EXPECT_EQ(file.GetLength(), kLength);
    EXPECT_EQ(file.Seek(0, CFile::end), kLength);
    EXPECT_EQ(file.Seek(-156, CFile::current), kLength - 156);
    EXPECT_EQ(file.Seek(156, CFile::begin), 156u);
    try {
      file.Seek(-1, CFile::begin);
      ADD_FAILURE() << "no exception";
    } catch (const CFileException& e) {
      EXPECT_EQ(e.m_cause, CFileException::badSeek);
      EXPECT_EQ(e.m_lOsError, EINVAL);
      EXPECT_EQ(e.m_strFileName, "");
    }
    EXPECT_EQ(file.Seek(0, CFile::current), 156u);
  }
  EXPECT_TRUE(DeleteFile(path));
}

TEST(FilePosixClose, ClosedFileForgetsItsPathAndLetsOthersIn) {
  TempFolder folder;
  const std::string path = folder / "part";
  WriteFile(path, "data");
  CFile file;
  ASSERT_TRUE(file.Open(path, kRead));
  EXPECT_EQ(file.GetFilePath(), path);
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.GetFilePath(), "");
  EXPECT_NO_THROW(file.Close());
  EXPECT_NO_THROW(file.Abort());
  OpenerProcess other(path, kRead);
  EXPECT_TRUE(other.opened());

  // A file object without a file reports the invalid handle.
  char byte;
  try {
    file.Read(&byte, 1);
    ADD_FAILURE() << "no exception";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_EQ(e.m_lOsError, EBADF);
  }
}

TEST(DeleteFilePosix, DeletesOnlyFilesThatNobodyHolds) {
  TempFolder folder;
  const std::string path = folder / "SETUP.EXE";
  WriteFile(path, "old");
  {
    CFile file;
    ASSERT_TRUE(file.Open(path, kRead));
    EXPECT_FALSE(DeleteFile(path));
  }
  {
    OpenerProcess other(path, kRead);
    ASSERT_TRUE(other.opened());
    EXPECT_FALSE(DeleteFile(path));
  }
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_TRUE(DeleteFile(path));
  EXPECT_FALSE(Exists(path));
  EXPECT_FALSE(DeleteFile(path));

  const std::string directory = folder / "folder";
  ASSERT_EQ(::mkdir(directory.c_str(), 0700), 0);
  EXPECT_FALSE(DeleteFile(directory));
  EXPECT_TRUE(Exists(directory));

  // A symbolic link goes; what it points to stays.
  const std::string target = folder / "target";
  const std::string link = folder / "link";
  WriteFile(target, "kept");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  EXPECT_TRUE(DeleteFile(link));
  EXPECT_FALSE(Exists(link));
  EXPECT_EQ(ReadFile(target), "kept");

  // A file nobody may write is read-only and stays, even for root.
  ASSERT_EQ(::chmod(target.c_str(), 0444), 0);
  EXPECT_FALSE(DeleteFile(target));
  EXPECT_EQ(ReadFile(target), "kept");
}

TEST(FilePosixOpen, PathInAFolderNamedInAnotherEncodingIsStillShown) {
  TempFolder parent;
  // "SETUP" in Shift-JIS katakana: no UTF-8.
  const std::string folder = parent / "\x83\x5A\x83\x62\x83\x67";
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  WriteFile(folder + "/NWD4_322.001", "part");
  CFile file;
  ASSERT_TRUE(file.Open(folder + "/NWD4_322.001", kRead));
  EXPECT_EQ(file.GetFilePath(), parent.path() + "/\uFFFDZ\uFFFDb\uFFFDg/NWD4_322.001");
}

TEST(FilePosixErrors, ReadErrorNamesTheFile) {
  // The kernel answers a read of the reader's own memory at address 0 with
  // an I/O error.
  CFile file;
  ASSERT_TRUE(file.Open("/proc/self/mem", kRead));
  char buffer[16];
  try {
    file.Read(buffer, sizeof buffer);
    ADD_FAILURE() << "the read succeeded";
  } catch (const CFileException& e) {
    EXPECT_EQ(e.m_cause, CFileException::hardIO);
    EXPECT_EQ(e.m_strFileName, "/proc/self/mem");
  }
}

TEST(FilePosixErrors, EverySystemErrorHasTheCauseOfItsKind) {
  const std::pair<int, int> kCauses[] = {
      {ENOENT, CFileException::fileNotFound},
      {EBADF, CFileException::fileNotFound},
      {ENOTDIR, CFileException::badPath},
      {ENAMETOOLONG, CFileException::badPath},
      {ELOOP, CFileException::badPath},
      {EXDEV, CFileException::badPath},
      {EMFILE, CFileException::tooManyOpenFiles},
      {ENFILE, CFileException::tooManyOpenFiles},
      {EACCES, CFileException::accessDenied},
      {EPERM, CFileException::accessDenied},
      {EROFS, CFileException::accessDenied},
      {EEXIST, CFileException::accessDenied},
      {EISDIR, CFileException::accessDenied},
      {EBUSY, CFileException::accessDenied},
      {ETXTBSY, CFileException::accessDenied},
      {ESPIPE, CFileException::badSeek},
      {EIO, CFileException::hardIO},
      {ENXIO, CFileException::hardIO},
      {ENODEV, CFileException::hardIO},
      {ENOMEDIUM, CFileException::hardIO},
      {ENOTCONN, CFileException::hardIO},
      {ETIMEDOUT, CFileException::hardIO},
      {ESTALE, CFileException::fileNotFound},
      {EAGAIN, CFileException::sharingViolation},
      {ENOLCK, CFileException::lockViolation},
      {ENOSPC, CFileException::diskFull},
      {EDQUOT, CFileException::diskFull},
      {EFBIG, CFileException::diskFull},
      {EINVAL, CFileException::genericException},
      {0, CFileException::genericException},
  };
  for (const auto& [error, cause] : kCauses) {
    EXPECT_EQ(posix::FileErrorCause(error), cause) << std::strerror(error);
  }
}

}  // namespace
