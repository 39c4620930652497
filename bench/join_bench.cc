// The program's joiner and verification on this system's backend, in this
// process, each against a plain baseline run alternately with it; and the
// peak memory of a join in a fresh process.
//
// Usage, on part sets made beforehand:
//   join_bench join SETDIR PAYLOADDIR REPS     JoinParts() against one cat
//   join_bench verify SETDIR REPS              CheckPartSet() against a bare loop
//   join_bench memory SETDIR...                peak memory of one join per set
#include <fstream>

#include "bench/bench_util.h"
#include "join/div_header.h"
#include "join/join_parts.h"
#include "join/part_set.h"

namespace {

using bench::Die;
using bench::Median;
using bench::Now;

// What the start-up sequence and Execute leave for the joiner.
struct Set {
  DIVHEADER firstHeader{};
  std::vector<std::uint64_t> partLengths;
};

// Enters the set's folder, reads its first header as the start-up sequence
// does, then verifies the set as Execute does.
Set EnterSet(const std::string& folder) {
  if (::chdir(folder.c_str()) != 0) Die("chdir " + folder);
  Set set;
  {
    CFile first;
    if (!first.Open(FIRST_PART_NAME, CFile::modeRead) || !ReadDivHeader(first, set.firstHeader)) {
      Die("read the first part in " + folder);
    }
  }
  if (!CheckPartSet(set.firstHeader, set.partLengths)) Die("verify " + folder);
  return set;
}

BOOL JoinSet(const Set& set) {
  return JoinParts(set.firstHeader, bench::kOutputName, set.partLengths);
}

double MiB(long long bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

int Join(const std::string& folder, const std::string& payloads, int reps) {
  const bench::Cat cat(folder, payloads);
  const Set set = EnterSet(folder);
  // The joiner flushes its output before naming it; the second baseline
  // does the same after cat, and shows what the flush alone costs.
  std::vector<double> joiner, baseline, flushed;
  for (int rep = bench::kWarmUp; rep < reps; ++rep) {
    for (int turn = 0; turn < 3; ++turn) {
      bench::Settle(folder, false);
      const int which = (turn + rep + 3) % 3;
      if (which == 0) {
        const double start = Now();
        if (!JoinSet(set)) Die("join");
        joiner.push_back(Now() - start);
      } else {
        (which == 1 ? baseline : flushed).push_back(cat.Run(which == 2));
      }
    }
    if (rep < 0) {
      joiner.clear();
      baseline.clear();
      flushed.clear();
    }
  }
  bench::Settle(folder, false);
  const double mib = MiB(cat.Total());
  const double base = Median(baseline);
  const double base_flushed = Median(flushed);
  const double ours = Median(joiner);
  std::printf("joiner alone, %zu parts, %.3f MiB, warm cache, medians of %d:\n", cat.Parts(), mib,
              reps);
  std::printf("  cat of the payloads             %8.4f s  %7.0f MiB/s\n", base, mib / base);
  std::printf("  cat, then fdatasync             %8.4f s  %7.0f MiB/s  ratio %.2f (the flush)\n",
              base_flushed, mib / base_flushed, base_flushed / base);
  std::printf(
      "  JoinParts(), flush included     %8.4f s  %7.0f MiB/s  ratio %.2f, %.2f to the "
      "flushed cat\n",
      ours, mib / ours, ours / base, ours / base_flushed);
  return 0;
}

// What the verification does, written plainly: open, measure, read the
// header, check signature and number, close; then compare the total.
bool BareVerify(const DIVHEADER& first) {
  std::int64_t sum = 0;
  bool sound = true;
  for (int i = 1; i <= first.nPartCount; ++i) {
    const int fd = ::open(PartFileName(i).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    unsigned char bytes[PART_HEADER_SIZE];
    if (::fstat(fd, &st) != 0) sound = false;
    sum += st.st_size - PART_HEADER_SIZE;
    if (::read(fd, bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) sound = false;
    const DIVHEADER header = ParseDivHeader(bytes);
    if (!HasDivSignature(header) || header.nPartNumber != i) sound = false;
    ::close(fd);
  }
  return sound && sum == first.nTotalSize;
}

int Verify(const std::string& folder, int reps) {
  Set set = EnterSet(folder);
  const DIVHEADER first = set.firstHeader;
  std::vector<double> program, baseline;
  for (int rep = bench::kWarmUp; rep < reps; ++rep) {
    for (int turn = 0; turn < 2; ++turn) {
      const double start = Now();
      if ((turn == 0) == (rep % 2 == 0)) {
        if (!CheckPartSet(first, set.partLengths)) Die("verify");
        program.push_back(Now() - start);
      } else {
        if (!BareVerify(first)) Die("bare verify");
        baseline.push_back(Now() - start);
      }
    }
    if (rep < 0) {
      program.clear();
      baseline.clear();
    }
  }
  const double parts = first.nPartCount;
  const double base = Median(baseline);
  const double ours = Median(program);
  std::printf("verification, %d parts, one press, warm cache, medians of %d:\n", first.nPartCount,
              reps);
  std::printf("  open/fstat/read/close loop      %8.4f s  %6.2f us a part\n", base,
              base / parts * 1e6);
  std::printf("  CheckPartSet()                  %8.4f s  %6.2f us a part  ratio %.2f\n", ours,
              ours / parts * 1e6, ours / base);
  return 0;
}

// --- memory ---

// The peak resident size of this process, in KiB, as the kernel counts it
// (VmHWM): unlike getrusage's, it does not start from the parent's peak.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// The child's side: verify and join one set (or do nothing), then print the
// peak.
int MemoryChild(const std::string& mode, const std::string& folder) {
  if (mode == "join") {
    if (!JoinSet(EnterSet(folder))) return 1;
  }
  std::printf("%ld\n", PeakResidentKiB());
  return 0;
}

long PeakOfChild(const char* self, const char* mode, const std::string& folder) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) Die("pipe");
  const pid_t pid = ::fork();
  if (pid < 0) Die("fork");
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::close(pipeFds[0]);
    ::execl("/proc/self/exe", self, "memory-child", mode, folder.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  char text[64] = {};
  std::size_t got = 0;
  for (ssize_t n;
       got + 1 < sizeof text && (n = ::read(pipeFds[0], text + got, sizeof text - 1 - got)) > 0;) {
    got += static_cast<std::size_t>(n);
  }
  ::close(pipeFds[0]);
  if (!bench::Wait(pid).ok) Die(std::string("the ") + mode + " child failed");
  return std::strtol(text, nullptr, 10);
}

int Memory(const char* self, const std::vector<std::string>& folders) {
  std::printf("peak resident memory (VmHWM) of a headless join in a fresh process:\n");
  std::printf("  %-22s %10s %12s %12s\n", "set", "idle KiB", "joiner KiB", "over idle");
  for (const std::string& folder : folders) {
    const bench::Cat cat(folder, folder + "-payloads");
    bench::Settle(folder, false);
    const long idle = PeakOfChild(self, "idle", folder);
    const long joiner = PeakOfChild(self, "join", folder);
    bench::Settle(folder, false);
    char label[64];
    std::snprintf(label, sizeof label, "%zu parts, %.0f MiB", cat.Parts(), MiB(cat.Total()));
    std::printf("  %-22s %10ld %12ld %+12ld\n", label, idle, joiner, joiner - idle);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "join") {
    return Join(args[1], args[2], std::atoi(args[3].c_str()));
  }
  if (args.size() == 3 && args[0] == "verify") return Verify(args[1], std::atoi(args[2].c_str()));
  if (args.size() >= 2 && args[0] == "memory") {
    return Memory(argv[0], std::vector<std::string>(args.begin() + 1, args.end()));
  }
  if (args.size() == 3 && args[0] == "memory-child") return MemoryChild(args[1], args[2]);
  std::fprintf(stderr,
               "usage: join_bench join SETDIR PAYLOADDIR REPS\n"
               "       join_bench verify SETDIR REPS\n"
               "       join_bench memory SETDIR...   (payloads in SETDIR-payloads)\n");
  return 2;
}
