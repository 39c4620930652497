// Speed and memory of the real joiner and verification on this system's
// backend, each against a plain POSIX loop doing the same work, measured in
// the same run so that the ratios hold whatever the machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "join/div_header.h"
#include "join/join_app.h"
#include "join/part_set.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr const char* kOutputName = "SETUP.EXE";
constexpr std::int64_t kMiB = 1024 * 1024;
constexpr const char* kChildFlag = "--rss-child=";

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "join_bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

// One set of parts in its own folder.
struct PartSet {
  std::string label;
  int parts;
  std::int64_t payload;  // bytes per part
  std::string folder;

  std::int64_t Total() const { return parts * payload; }
};

// The application object the joiner and verification belong to.
CJoinApp& App() {
  static CJoinApp app;
  return app;
}

void WriteAll(int fd, const unsigned char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0) Die("write");
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

void MakePartSet(const PartSet& set) {
  fs::remove_all(set.folder);
  fs::create_directories(set.folder);
  // A small block keeps this process's peak below the children's.
  std::vector<unsigned char> block(64 * 1024);
  DIVHEADER header{};
  std::memcpy(header.szSignature, DIV_SIGNATURE, std::strlen(DIV_SIGNATURE));
  std::memcpy(header.szOutputName, kOutputName, std::strlen(kOutputName));
  header.nTotalSize = static_cast<std::int32_t>(set.Total());
  header.nPartCount = set.parts;
  for (int i = 1; i <= set.parts; ++i) {
    const std::string path = set.folder + "/" + PartFileName(i);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) Die("create " + path);
    header.nPartNumber = i;
    unsigned char bytes[PART_HEADER_SIZE];
    FormatDivHeader(header, bytes);
    WriteAll(fd, bytes, sizeof bytes);
    for (std::int64_t left = set.payload; left > 0;) {
      const auto size = static_cast<std::size_t>(
          std::min<std::int64_t>(left, static_cast<std::int64_t>(block.size())));
      for (std::size_t j = 0; j < size; ++j) {
        block[j] = static_cast<unsigned char>((j * 131 + static_cast<std::size_t>(i)) >> 3);
      }
      WriteAll(fd, block.data(), size);
      left -= static_cast<std::int64_t>(size);
    }
    if (::close(fd) != 0) Die("close " + path);
  }
}

DIVHEADER FirstHeader(const PartSet& set) {
  unsigned char bytes[PART_HEADER_SIZE];
  const std::string path = set.folder + "/" + FIRST_PART_NAME;
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) Die("read " + path);
  return ParseDivHeader(bytes);
}

// Prepares the application as the start-up sequence leaves it, in the set's
// folder.
void EnterSet(const PartSet& set) {
  if (::chdir(set.folder.c_str()) != 0) Die("chdir " + set.folder);
  CJoinApp& app = App();
  app.m_strFolder = set.folder + "/";
  app.m_divHeader = FirstHeader(set);
  app.m_strOutputName = kOutputName;
}

// What the joiner does, written plainly: the same deletion, creation, opens,
// measuring, positioning and 1 MiB reads and writes, with no framework.
bool BaselineJoin(const DIVHEADER& header) {
  ::unlink(kOutputName);
  const int out = ::open(kOutputName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return false;
  auto* buffer = static_cast<unsigned char*>(std::calloc(1, COPY_BUFFER_SIZE));
  std::int64_t remaining = header.nTotalSize;
  bool ok = buffer != nullptr;
  for (int i = 1; ok && i <= header.nPartCount; ++i) {
    const int fd = ::open(PartFileName(i).c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || ::lseek(fd, PART_HEADER_SIZE, SEEK_SET) < 0) {
      ok = false;
      if (fd >= 0) ::close(fd);
      break;
    }
    std::int64_t n = std::min<std::int64_t>(st.st_size - PART_HEADER_SIZE, remaining);
    while (ok && n > 0) {
      const auto block = static_cast<std::size_t>(std::min<std::int64_t>(n, COPY_BUFFER_SIZE));
      ok = ::read(fd, buffer, block) == static_cast<ssize_t>(block) &&
           ::write(out, buffer, block) == static_cast<ssize_t>(block);
      n -= static_cast<std::int64_t>(block);
      remaining -= static_cast<std::int64_t>(block);
    }
    ::close(fd);
  }
  std::free(buffer);
  return ::close(out) == 0 && ok && remaining == 0;
}

// What the verification does, written plainly: open, measure, read the
// header, check signature and number, close; then compare the total.
bool BaselineVerify(const DIVHEADER& first) {
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

// ---- Time ------------------------------------------------------------------

enum class Work { kJoin, kVerify };

// One comparison: the program's code and its plain baseline on one set.
struct Comparison {
  Work work;
  const PartSet* set;
  std::vector<double> joinerSeconds;    // per iteration, one per repetition
  std::vector<double> baselineSeconds;  // the same for the baseline
};

void RunJoiner(benchmark::State& state, Comparison* c) {
  EnterSet(*c->set);
  for (auto _ : state) {
    const BOOL ok = c->work == Work::kJoin ? App().JoinParts() : CheckPartSet(App().m_divHeader);
    if (!ok) state.SkipWithError("the program's code failed");
  }
}

void RunBaseline(benchmark::State& state, Comparison* c) {
  EnterSet(*c->set);
  const DIVHEADER header = App().m_divHeader;
  for (auto _ : state) {
    const bool ok = c->work == Work::kJoin ? BaselineJoin(header) : BaselineVerify(header);
    if (!ok) state.SkipWithError("the baseline failed");
  }
}

// Passes the usual console output on and keeps each repetition's time per
// iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(std::map<std::string, std::vector<double>*> sinks)
      : m_sinks(std::move(sinks)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      const auto sink = m_sinks.find(run.run_name.function_name);
      if (sink != m_sinks.end()) {
        sink->second->push_back(run.real_accumulated_time / static_cast<double>(run.iterations));
      }
    }
  }

 private:
  std::map<std::string, std::vector<double>*> m_sinks;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

void PrintRatios(const std::vector<Comparison>& comparisons) {
  std::printf(
      "\nMedians of the repetitions; ratio = program / baseline throughput (1.00 = as fast):\n");
  for (const Comparison& c : comparisons) {
    if (c.joinerSeconds.empty() || c.baselineSeconds.empty()) continue;
    const double joiner = Median(c.joinerSeconds);
    const double baseline = Median(c.baselineSeconds);
    if (c.work == Work::kJoin) {
      const double mib = static_cast<double>(c.set->Total()) / kMiB;
      std::printf("  join   %-22s joiner %8.1f MiB/s   baseline %8.1f MiB/s   ratio %.2f\n",
                  c.set->label.c_str(), mib / joiner, mib / baseline, baseline / joiner);
    } else {
      const double parts = c.set->parts;
      std::printf(
          "  verify %-22s program %7.0f parts/s  baseline %7.0f parts/s  ratio %.2f"
          "  (%.1f vs %.1f us per part)\n",
          c.set->label.c_str(), parts / joiner, parts / baseline, baseline / joiner,
          joiner / parts * 1e6, baseline / parts * 1e6);
    }
  }
}

// ---- Memory ----------------------------------------------------------------

// The peak resident size of this process so far, in KiB, as the kernel counts
// it for the process's own memory (VmHWM). getrusage's ru_maxrss is reported
// beside it, but on Linux a spawned child inherits its parent's peak there.
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// The child's side: do one piece of work in a fresh process and report its
// peak memory on standard output.
int RunMemoryChild(const std::string& mode, const std::string& folder) {
  const PartSet set{"", 0, 0, folder};
  EnterSet(set);
  bool ok = true;
  if (mode == "join") {
    ok = App().JoinParts();
  } else if (mode == "baseline") {
    ok = BaselineJoin(App().m_divHeader);
  }
  struct rusage usage;
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%ld %ld\n", PeakResidentKiB(), usage.ru_maxrss);
  return ok ? 0 : 1;
}

struct Peak {
  long hwmKiB = -1;
  long maxrssKiB = -1;
};

Peak MeasureInChild(const char* mode, const std::string& folder) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) Die("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  const std::string flag = std::string(kChildFlag) + mode;
  char self[] = "/proc/self/exe";
  std::vector<char*> argv = {self, const_cast<char*>(flag.c_str()),
                             const_cast<char*>(folder.c_str()), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, self, &actions, nullptr, argv.data(), environ) != 0) Die("spawn");
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipeFds[1]);
  char text[128] = {};
  std::size_t got = 0;
  for (ssize_t n;
       got + 1 < sizeof text && (n = ::read(pipeFds[0], text + got, sizeof text - 1 - got)) > 0;) {
    got += static_cast<std::size_t>(n);
  }
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  Peak peak;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(text, "%ld %ld", &peak.hwmKiB, &peak.maxrssKiB) != 2) {
    std::fprintf(stderr, "join_bench: the %s child failed\n", mode);
  }
  return peak;
}

struct MemoryFigures {
  Peak idle;
  Peak baseline;
  Peak joiner;
};

MemoryFigures MeasureMemory(const PartSet& set) {
  MakePartSet(set);
  MemoryFigures figures;
  figures.idle = MeasureInChild("idle", set.folder);
  figures.baseline = MeasureInChild("baseline", set.folder);
  figures.joiner = MeasureInChild("join", set.folder);
  fs::remove_all(set.folder);
  return figures;
}

void PrintMemory(const MemoryFigures& figures, const PartSet& set) {
  std::printf("\nPeak memory of one join in a fresh process, %s (KiB):\n", set.label.c_str());
  std::printf("                  VmHWM  ru_maxrss  VmHWM over idle\n");
  const struct {
    const char* name;
    const Peak& peak;
  } rows[] = {
      {"idle", figures.idle}, {"baseline copy", figures.baseline}, {"joiner", figures.joiner}};
  for (const auto& row : rows) {
    std::printf("  %-14s %7ld  %9ld  %+8ld\n", row.name, row.peak.hwmKiB, row.peak.maxrssKiB,
                row.peak.hwmKiB - figures.idle.hwmKiB);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strncmp(argv[1], kChildFlag, std::strlen(kChildFlag)) == 0) {
    return RunMemoryChild(argv[1] + std::strlen(kChildFlag), argv[2]);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;

  const std::string root = BENCH_DATA_DIR;
  // First, while this process is still small: a child's ru_maxrss starts
  // from its parent's peak.
  const PartSet memorySet{"256 MiB in 8 parts", 8, 32 * kMiB, root + "/memory-256MiB"};
  const MemoryFigures memory = MeasureMemory(memorySet);

  const std::vector<PartSet> sets = {
      {"64 MiB in 8 parts", 8, 8 * kMiB, root + "/join-8"},
      {"64 MiB in 256 parts", 256, 256 * 1024, root + "/join-256"},
      {"256 parts of 100 B", 256, 100, root + "/verify-256"},
      {"4096 parts of 100 B", 4096, 100, root + "/verify-4096"},
  };
  for (const PartSet& set : sets) MakePartSet(set);

  std::vector<Comparison> comparisons = {
      {Work::kJoin, &sets[0], {}, {}},
      {Work::kJoin, &sets[1], {}, {}},
      {Work::kVerify, &sets[2], {}, {}},
      {Work::kVerify, &sets[3], {}, {}},
  };
  std::map<std::string, std::vector<double>*> sinks;
  for (Comparison& c : comparisons) {
    const bool join = c.work == Work::kJoin;
    const std::string name = std::string(join ? "join/" : "verify/") +
                             std::to_string(c.set->parts) + "_parts_of_" +
                             std::to_string(c.set->payload) + "B/";
    const benchmark::TimeUnit unit = join ? benchmark::kMillisecond : benchmark::kMicrosecond;
    benchmark::RegisterBenchmark((name + "program").c_str(), RunJoiner, &c)
        ->Unit(unit)
        ->UseRealTime()
        ->Repetitions(5);
    benchmark::RegisterBenchmark((name + "baseline").c_str(), RunBaseline, &c)
        ->Unit(unit)
        ->UseRealTime()
        ->Repetitions(5);
    sinks[name + "program"] = &c.joinerSeconds;
    sinks[name + "baseline"] = &c.baselineSeconds;
  }
  RatioReporter reporter(sinks);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(comparisons);
  PrintMemory(memory, memorySet);

  if (::chdir("/") != 0) Die("chdir /");
  fs::remove_all(root);
  benchmark::Shutdown();
  return 0;
}
