// Every operation a run asks of the platform, failed at each of its
// occurrences in turn, in every kind of run. Whatever fails, the run keeps
// the rules of BrokenRules, reports a thrown error once with its own text,
// and a second press after an error in the dialog does all the first press
// would have done.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "join/join_app.h"
#include "platform/progress.h"
#include "tests/fake/invariants.h"
#include "tests/matrix_tally.h"
#include "tests/test_util.h"

namespace {

using fake::Op;
using Bytes = std::vector<unsigned char>;
using Log = std::vector<std::string>;

// What a scenario's folder lets the join write.
enum class Join { None, Payloads, Empty };

struct Scenario {
  const char* name;
  void (*change)(fake::Platform&);  // to a sound set of three parts
  Join join;
  bool cancel;
};

const Scenario kScenarios[] = {
    {"sound set", [](fake::Platform&) {}, Join::Payloads, false},
    {"cancel", [](fake::Platform&) {}, Join::Payloads, true},
    {"missing part", [](fake::Platform& w) { w.files.erase("NWD4_322.002"); }, Join::None, false},
    {"damaged part", [](fake::Platform& w) { w.files["NWD4_322.003"].data[0] = 'X'; }, Join::None,
     false},
    {"size mismatch", [](fake::Platform& w) { w.files["NWD4_322.002"].data.push_back(0); },
     Join::None, false},
    {"count of zero",
     [](fake::Platform& w) {
       w.files["NWD4_322.001"].data = testutil::HeaderBytes(testutil::Header(1, 0, 0));
     },
     Join::Empty, false},
    {"output exists", [](fake::Platform& w) { w.AddFile("SETUP.EXE", Bytes(9, 0xEE)); },
     Join::Payloads, false},
    {"slow join", [](fake::Platform& w) { w.clockStep = CJoinProgress::kDelayMs; }, Join::Payloads,
     false},
    {"join stopped",
     [](fake::Platform& w) {
       w.clockStep = CJoinProgress::kDelayMs;
       w.cancelAtUpdate = 1;
     },
     Join::None, false},
};

struct Fault {
  Op op;
  int cause;
};

// At least one way each operation fails; the causes a platform error can
// carry are all handled alike.
const Fault kFaults[] = {
    {Op::CurrentFolder, fake::kRefused},
    {Op::Open, fake::kRefused},
    {Op::GetLength, CFileException::accessDenied},
    {Op::Seek, CFileException::badSeek},
    {Op::Read, CFileException::hardIO},
    {Op::Read, fake::kShort},
    {Op::Read, fake::kNoMemory},
    {Op::Write, CFileException::lockViolation},
    {Op::Write, fake::kShort},
    {Op::Close, CFileException::diskFull},
    {Op::Delete, fake::kRefused},
    {Op::GetFileId, fake::kRefused},
    {Op::Create, fake::kRefused},
    {Op::Alloc, fake::kRefused},
    {Op::Commit, fake::kRefused},
    {Op::Commit, CFileException::sharingViolation},
};

// The scenario's run with the fault at its nth call, or without one for nth
// 0. Adds what broke to broken; returns the log, or nothing when the run
// never made that call.
std::optional<Log> RunOnce(const Scenario& scenario, const Fault& fault, int nth, Log& broken) {
  fake::Platform world;
  CJoinApp app;
  Bytes payloads;
  for (const auto& [name, bytes] : testutil::SmallSet(payloads)) world.AddFile(name, bytes);
  world.AddFile("NWD4_322.exe", Bytes(64, 0x4D));
  scenario.change(world);
  const fake::Snapshot before = fake::Snap(world);
  if (nth > 0) world.FailOn(fault.op, "", fault.cause, nth);
  world.script = {fake::UserAction::Execute, fake::UserAction::Execute};
  if (scenario.cancel) world.script = {fake::UserAction::Cancel};

  try {
    AfxWinMain();
  } catch (...) {
    broken.push_back("an exception left the run");
  }
  if (nth > 0 && world.FaultsMet() == 0) return std::nullopt;
  const std::optional<Bytes> joined = scenario.join == Join::Payloads ? payloads
                                      : scenario.join == Join::Empty ? std::optional<Bytes>(Bytes())
                                                                     : std::nullopt;
  for (std::string& rule : fake::BrokenRules(world, before, "SETUP.EXE", joined)) {
    broken.push_back(std::move(rule));
  }
  // Once the user has stopped the join, the run ends without a word, even
  // when closing a part fails on the way out.
  const auto stop = std::find(world.log.begin(), world.log.end(), "progress-cancel");
  const bool afterStop = stop != world.log.end() &&
                         static_cast<std::size_t>(stop - world.log.begin()) < world.faultMetAt;
  if (nth > 0 && !afterStop && (fault.cause > 0 || fault.cause == fake::kNoMemory) &&
      std::count_if(world.messages.begin(), world.messages.end(), [&](const fake::Message& m) {
        return fault.cause > 0 ? fake::IsFileErrorText(m.text, fault.cause)
                               : m.text == fake::kOutOfMemory;
      }) != 1) {
    broken.push_back("the error is not reported once with its own text");
  }
  return world.log;
}

// The log from the last user action on.
Log LastPress(const Log& log) {
  const auto last = std::find_if(log.rbegin(), log.rend(),
                                 [](const std::string& e) { return e.rfind("user ", 0) == 0; });
  return Log(last == log.rend() ? log.begin() : std::prev(last.base()), log.end());
}

std::string How(int cause) {
  return cause == fake::kRefused    ? "refused"
         : cause == fake::kShort    ? "short"
         : cause == fake::kNoMemory ? "no memory"
                                    : "cause " + std::to_string(cause);
}

TEST(FaultMatrix, EveryOperationFailingAtEveryOccurrenceKeepsTheRules) {
  matrix::Tally tally([](const std::string& line) { ADD_FAILURE() << line; });

  for (const Scenario& scenario : kScenarios) {
    Log broken;
    const Log clean = *RunOnce(scenario, {}, 0, broken);
    if ((clean.back().rfind("launch", 0) == 0) !=
        (scenario.join != Join::None && !scenario.cancel)) {
      broken.push_back("the run without a fault did not end as it should");
    }
    tally.Judge(std::string(scenario.name) + ", no fault", broken);

    for (const Fault& fault : kFaults) {
      for (int nth = 1;; ++nth) {
        broken.clear();
        const std::optional<Log> log = RunOnce(scenario, fault, nth, broken);
        if (!log) break;
        if (std::count_if(log->begin(), log->end(),
                          [](const std::string& e) { return e.rfind("user ", 0) == 0; }) > 1 &&
            LastPress(*log) != LastPress(clean)) {
          broken.push_back("the second press did not do what the first would have");
        }
        tally.Judge(std::string(scenario.name) + ", " + fake::kOpNames[static_cast<int>(fault.op)] +
                        " #" + std::to_string(nth) + " failing: " + How(fault.cause),
                    broken);
      }
    }
  }
  tally.Print("fault matrix");
  EXPECT_EQ(tally.violations(), 0);
}

}  // namespace
