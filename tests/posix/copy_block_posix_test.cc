// CopyBlock over real files, inside the kernel and through the buffer: the
// same bytes, the same short count where the source ends, the same errors.
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/file.h"
#include "platform/posix/file_posix.h"
#include "tests/posix/posix_test_util.h"
#include "tests/test_util.h"

namespace {

using posixtest::ReadFile;
using posixtest::TempFolder;
using posixtest::WriteFile;

constexpr UINT kMiB = 1048576;

TEST(CopyBlockPosix, KernelAndBufferMoveTheSameBytesAndReportTheSame) {
  struct Case {
    const char* what;
    std::size_t payload;      // bytes after the header
    std::vector<UINT> asked;  // blocks, one after the other
    std::string report;       // what they returned, then any error ("@" is the output's path)
    std::size_t written;      // payload bytes in the output afterwards
    rlim_t sizeLimit;         // of the output, 0 for none
    bool sourceOpen;
  };
  const Case cases[] = {
      {"blocks of at most 1 MiB",
       2 * kMiB + kMiB / 2,
       {kMiB, kMiB, kMiB / 2},
       "1048576 1048576 524288",
       2 * kMiB + kMiB / 2,
       0,
       true},
      {"a source that ends first", 1000, {4096, 4096}, "1000 0", 1000, 0, true},
      {"an output that runs out of space", 3000, {4096}, " | 13 -1 @", 1000, 1000, true},
      {"a read error", 10, {10}, " | 2 9 ", 0, 0, false},
  };
  for (const bool kernel : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + (kernel ? ", in the kernel" : ", through the buffer"));
      TempFolder folder;
      const std::string output = folder / "SETUP.EXE";
      const std::vector<unsigned char> payload = testutil::Payload(c.payload, 3);
      WriteFile(folder / "NWD4_322.001",
                std::string(PART_HEADER_SIZE, 'H') + std::string(payload.begin(), payload.end()));

      // Limits, signals and the backend's choice stay the child's.
      const std::string report = posixtest::ReportFromChild([&] {
        posix::UseKernelCopy(kernel);
        if (c.sizeLimit > 0) {
          ::signal(SIGXFSZ, SIG_IGN);
          const struct rlimit limit = {c.sizeLimit, c.sizeLimit};
          ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        CFile part;
        CFile out;
        if (!out.Open(output, CFile::modeCreate | CFile::modeWrite))
          return std::string("no output");
        if (c.sourceOpen && (!part.Open(folder / "NWD4_322.001", CFile::modeRead) ||
                             part.Seek(PART_HEADER_SIZE, CFile::begin) != PART_HEADER_SIZE)) {
          return std::string("no part");
        }
        std::vector<unsigned char> buffer(kMiB);
        std::string text;
        try {
          for (const UINT count : c.asked) {
            text += (text.empty() ? "" : " ") +
                    std::to_string(CopyBlock(part, out, buffer.data(), count));
          }
        } catch (const CFileException& e) {
          text += " | " + std::to_string(e.m_cause) + " " + std::to_string(e.m_lOsError) + " " +
                  e.m_strFileName;
        }
        return text;
      });

      std::string expected = c.report;
      if (expected.find('@') != std::string::npos) expected.replace(expected.find('@'), 1, output);
      EXPECT_EQ(report, expected);
      EXPECT_TRUE(ReadFile(output) == std::string(payload.begin(), payload.begin() + c.written));
    }
  }
}

int g_part = -1;  // the descriptor the kernel first moved bytes from
int g_moves = 0;  // moves out of it so far
TEST(CopyBlockPosix, BlockMovedInPartBeforeAReadErrorRaisesTheError) {
  // The part's disk fails in the middle of a block: the kernel moves the
  // first half, then every move and read from the part fails.
  posixtest::SystemCallsRestored restored;
  posix::UseKernelCopy(true);
  g_part = -1;
  g_moves = 0;
  posix::sys.splice = [](int in, loff_t* inAt, int out, loff_t* outAt, std::size_t count,
                         unsigned flags) -> ssize_t {
    if (g_part < 0) g_part = in;
    if (in != g_part) return posixtest::kSystem.splice(in, inAt, out, outAt, count, flags);
    if (g_moves++ == 0) return posixtest::kSystem.splice(in, inAt, out, outAt, count / 2, flags);
    errno = EIO;
    return -1;
  };
  posix::sys.read = [](int fd, void* buffer, std::size_t count) -> ssize_t {
    if (fd != g_part) return posixtest::kSystem.read(fd, buffer, count);
    errno = EIO;
    return -1;
  };
  TempFolder folder;
  WriteFile(folder / "NWD4_322.001", std::string(4096, 'p'));
  CFile part;
  CFile out;
  ASSERT_TRUE(part.Open(folder / "NWD4_322.001", CFile::modeRead));
  ASSERT_TRUE(out.Open(folder / "SETUP.EXE", CFile::modeCreate | CFile::modeWrite));
  std::vector<unsigned char> buffer(4096);
  int cause = CFileException::none;
  try {
    CopyBlock(part, out, buffer.data(), 4096);
  } catch (const CFileException& e) {
    cause = e.m_cause;
  }
  EXPECT_EQ(g_moves, 2);
  EXPECT_EQ(cause, CFileException::hardIO);
}

}  // namespace
