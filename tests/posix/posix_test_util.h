// Scratch folders on the build tree's disk and a second process that holds
// a file open, for the tests of the real POSIX backend.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "platform/file.h"
#include "platform/posix/system_calls.h"

namespace posixtest {

// A fresh folder below the build tree (not /tmp, which may be a RAM disk),
// removed with everything in it at the end of the test.
class TempFolder {
 public:
  TempFolder() {
    std::filesystem::create_directories(NWD_TEST_SCRATCH);
    std::string pattern = std::string(NWD_TEST_SCRATCH) + "/test-XXXXXX";
    if (!::mkdtemp(&pattern[0])) std::abort();
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The system's own calls, for a test's replacement to pass on to.
inline const posix::SystemCalls kSystem = posix::sys;

// Puts the system's own calls back into the table when it goes.
struct SystemCallsRestored {
  SystemCallsRestored() = default;
  SystemCallsRestored(const SystemCallsRestored&) = delete;
  SystemCallsRestored& operator=(const SystemCallsRestored&) = delete;
  ~SystemCallsRestored() { posix::sys = kSystem; }
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Runs work in a child process, for limits and signals that must stay the
// child's, and returns the text it reported.
inline std::string ReportFromChild(const std::function<std::string()>& work) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) std::abort();
  const pid_t child = ::fork();
  if (child < 0) std::abort();
  if (child == 0) {
    ::close(pipeFds[0]);
    const std::string report = work();
    if (::write(pipeFds[1], report.data(), report.size()) < 0) ::_exit(2);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string report;
  char buffer[512];
  ssize_t got;
  while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    report.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipeFds[0]);
  int status;
  ::waitpid(child, &status, 0);
  return report;
}

// Another process that opens a file with the given flags and keeps it open
// until this object goes.
class OpenerProcess {
 public:
  OpenerProcess(const std::string& path, UINT flags) {
    int report[2];
    int release[2];
    if (::pipe2(report, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) std::abort();
    pid_ = ::fork();
    if (pid_ < 0) std::abort();
    if (pid_ == 0) {
      ::close(report[0]);
      ::close(release[1]);
      CFile file;
      const char opened = file.Open(path, flags) ? '1' : '0';
      if (::write(report[1], &opened, 1) != 1) ::_exit(1);
      char ignored;
      while (::read(release[0], &ignored, 1) < 0) {
      }
      ::_exit(0);  // the file closes with the process
    }
    ::close(report[1]);
    ::close(release[0]);
    release_ = release[1];
    char opened = '0';
    while (::read(report[0], &opened, 1) < 0) {
    }
    ::close(report[0]);
    opened_ = opened == '1';
  }
  ~OpenerProcess() {
    ::close(release_);
    int status;
    ::waitpid(pid_, &status, 0);
  }
  OpenerProcess(const OpenerProcess&) = delete;
  OpenerProcess& operator=(const OpenerProcess&) = delete;

  bool opened() const { return opened_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool opened_ = false;
};

}  // namespace posixtest
