// What the benchmarks share: the clock, medians, the baseline `cat`, and the
// state every timed run starts from.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace bench {

// The program's output and the baseline's, both in the set's folder.
constexpr const char* kOutputName = "SETUP.EXE";
constexpr const char* kCatOutputName = "cat.out";

// Repetitions count from this one, whose figures are dropped: on this kind
// of virtual machine the first run after the page cache was emptied pays for
// memory the host has taken back, and the first X client of a server loads
// the OpenGL stack.
constexpr int kWarmUp = -1;

[[noreturn]] inline void Die(const std::string& what) {
  std::fprintf(stderr, "bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

inline double Now() {
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

inline long long FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// Every timed run starts alike: no output of an earlier run, nothing dirty
// waiting to be written and, for a cold run, nothing in the page cache.
inline void Settle(const std::string& folder, bool cold) {
  ::unlink((folder + "/" + kOutputName).c_str());
  ::unlink((folder + "/" + kCatOutputName).c_str());
  ::sync();
  if (!cold) return;
  const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
  if (fd < 0 || ::write(fd, "3", 1) != 1) Die("drop caches");
  ::close(fd);
}

// Starts args[0] in folder, standard output on outputName there (or
// /dev/null), standard error on /dev/null.
inline pid_t Start(const std::vector<std::string>& args, const std::string& folder,
                   const char* outputName = nullptr) {
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    if (::chdir(folder.c_str()) != 0) ::_exit(126);
    const int out = outputName ? ::open(outputName, O_WRONLY | O_CREAT | O_TRUNC, 0644)
                               : ::open("/dev/null", O_WRONLY);
    const int null = ::open("/dev/null", O_WRONLY);
    if (out < 0 || null < 0 || ::dup2(out, 1) < 0 || ::dup2(null, 2) < 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

struct Ended {
  double at = 0;
  long maxRssKiB = 0;
  bool ok = false;
};

inline Ended Wait(pid_t pid) {
  int status = 0;
  rusage usage{};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) Die("wait");
  }
  Ended ended;
  ended.at = Now();
  ended.maxRssKiB = usage.ru_maxrss;
  ended.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return ended;
}

// The payloads, headers stripped beforehand, in part order.
inline std::vector<std::string> PayloadFiles(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) Die("open " + folder);
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') names.push_back(folder + "/" + entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

// The baseline: one `cat` of every payload into one file in the set's
// folder, as a user would type it. Returns its time from start to exit.
class Cat {
 public:
  Cat(const std::string& folder, const std::string& payloads) : m_folder(folder) {
    m_args.push_back("/bin/cat");
    for (const std::string& file : PayloadFiles(payloads)) {
      m_args.push_back(file);
      m_total += FileSize(file);
    }
  }

  // With flush, cat's output is then written through to the disk
  // (fdatasync), as the program does before it names its output.
  double Run(bool flush = false) const {
    const double start = Now();
    const Ended ended = Wait(Start(m_args, m_folder, kCatOutputName));
    const std::string output = m_folder + "/" + kCatOutputName;
    if (!ended.ok || FileSize(output) != m_total) Die("cat failed");
    if (!flush) return ended.at - start;
    const int fd = ::open(output.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::fdatasync(fd) != 0) Die("fdatasync");
    ::close(fd);
    return Now() - start;
  }

  long long Total() const { return m_total; }
  std::size_t Parts() const { return m_args.size() - 1; }

 private:
  std::string m_folder;
  std::vector<std::string> m_args;
  long long m_total = 0;
};

}  // namespace bench
