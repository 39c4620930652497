// Every operation a run asks of the platform, failed at each of its
// occurrences in turn, in every kind of run. Whatever fails, the run keeps
// the rules of BrokenRules, reports a thrown error once with its own text,
// and a second press after an error in the dialog does all the first press
// would have done.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

#include "join/join_app.h"
#include "tests/fake/invariants.h"
#include "tests/test_util.h"

namespace {

using fake::Op;
using fake::UserAction;
using Bytes = std::vector<unsigned char>;

// A sound set of three parts, the last of them empty, beside the program;
// returns the join it makes. Parts of more than one block are left to other
// tests: their size would make every run slow.
Bytes MakeSet(fake::Platform& world) {
  const std::size_t sizes[] = {200, 5, 0};
  Bytes joined;
  for (std::int32_t i = 1; i <= 3; ++i) {
    const Bytes payload = testutil::Payload(sizes[i - 1], static_cast<unsigned>(i));
    world.AddFile(PartFileName(i), testutil::Part(testutil::Header(i, 3, 205), payload));
    joined.insert(joined.end(), payload.begin(), payload.end());
  }
  world.AddFile("NWD4_322.exe", Bytes(64, 0x4D));
  return joined;
}

struct Scenario {
  const char* name;
  // Changes the sound set; returns the join the folder then allows.
  std::function<std::optional<Bytes>(fake::Platform&, const Bytes&)> change;
  bool cancel;
  bool launches;  // without a fault
};

const Scenario kScenarios[] = {
    {"sound set", [](fake::Platform&, const Bytes& joined) { return joined; }, false, true},
    {"cancel", [](fake::Platform&, const Bytes& joined) { return joined; }, true, false},
    {"missing part",
     [](fake::Platform& w, const Bytes&) {
       w.files.erase("NWD4_322.002");
       return std::nullopt;
     },
     false, false},
    {"damaged part",
     [](fake::Platform& w, const Bytes&) {
       w.files["NWD4_322.003"].data[0] = 'X';
       return std::nullopt;
     },
     false, false},
    {"size mismatch",
     [](fake::Platform& w, const Bytes&) {
       w.files["NWD4_322.002"].data.push_back(0);
       return std::nullopt;
     },
     false, false},
    {"count of zero",
     [](fake::Platform& w, const Bytes&) {
       w.files["NWD4_322.001"].data = testutil::HeaderBytes(testutil::Header(1, 0, 0));
       return Bytes();
     },
     false, true},
    {"output exists",
     [](fake::Platform& w, const Bytes& joined) {
       w.AddFile("SETUP.EXE", Bytes(9, 0xEE));
       return joined;
     },
     false, true},
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

struct Outcome {
  bool faultMet = false;
  std::vector<std::string> broken;
  std::vector<std::string> log;
  std::vector<fake::Message> messages;
};

Outcome RunOnce(const Scenario& scenario, const Fault* fault, int nth) {
  fake::Platform world;
  CJoinApp app;
  const std::optional<Bytes> joined = scenario.change(world, MakeSet(world));
  const fake::Snapshot before = fake::Snap(world);
  if (fault) world.FailOn(fault->op, "", fault->cause, nth);
  world.script = scenario.cancel ? std::deque<UserAction>{UserAction::Cancel}
                                 : std::deque<UserAction>{UserAction::Execute, UserAction::Execute};
  Outcome run;
  try {
    AfxWinMain();
  } catch (...) {
    run.broken.push_back("an exception left the run");
  }
  for (std::string& rule : fake::BrokenRules(world, before, "SETUP.EXE", joined)) {
    run.broken.push_back(std::move(rule));
  }
  run.faultMet = world.FaultsMet() > 0;
  run.log = world.log;
  run.messages = world.messages;
  return run;
}

// The log from the last user action on.
std::vector<std::string> LastPress(const std::vector<std::string>& log) {
  auto last = std::find_if(log.rbegin(), log.rend(),
                           [](const std::string& e) { return e.rfind("user ", 0) == 0; });
  return std::vector<std::string>(last == log.rend() ? log.begin() : std::prev(last.base()),
                                  log.end());
}

// How the fault's own report must read: its cause's text, or lack of memory.
bool IsReportOf(const fake::Message& message, int cause) {
  if (cause == fake::kNoMemory) return message.text == "ﾒﾓﾘが不足しています。";
  const std::string pattern = CFileException(cause, 0, "\x1F").GetErrorMessage();
  const std::string tail = pattern.substr(pattern.find('\x1F') + 1);
  return message.type == MB_ICONSTOP && message.text.size() >= tail.size() &&
         message.text.compare(message.text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string How(int cause) {
  return cause == fake::kRefused    ? "refused"
         : cause == fake::kShort    ? "short"
         : cause == fake::kNoMemory ? "no memory"
                                    : "cause " + std::to_string(cause);
}

TEST(FaultMatrix, EveryOperationFailingAtEveryOccurrenceKeepsTheRules) {
  int runs = 0;
  int violations = 0;
  const auto judge = [&](const std::string& where, const std::vector<std::string>& broken) {
    ++runs;
    for (const std::string& rule : broken) {
      if (++violations <= 20) ADD_FAILURE() << where << ": " << rule;
    }
  };

  for (const Scenario& scenario : kScenarios) {
    const Outcome clean = RunOnce(scenario, nullptr, 0);
    std::vector<std::string> broken = clean.broken;
    if (!clean.log.empty() && (clean.log.back().rfind("launch", 0) == 0) != scenario.launches) {
      broken.push_back("the run without a fault ended otherwise");
    }
    judge(std::string(scenario.name) + ", no fault", broken);

    for (const Fault& fault : kFaults) {
      for (int nth = 1;; ++nth) {
        Outcome run = RunOnce(scenario, &fault, nth);
        if (!run.faultMet) break;
        const bool thrown = fault.cause > 0 || fault.cause == fake::kNoMemory;
        if (thrown && std::count_if(run.messages.begin(), run.messages.end(),
                                    [&fault](const fake::Message& m) {
                                      return IsReportOf(m, fault.cause);
                                    }) != 1) {
          run.broken.push_back("the error is not reported once with its own text");
        }
        const auto presses = std::count_if(run.log.begin(), run.log.end(),
                                           [](const auto& e) { return e.rfind("user ", 0) == 0; });
        if (presses > 1 && LastPress(run.log) != LastPress(clean.log)) {
          run.broken.push_back("the second press did not do what the first would have");
        }
        judge(std::string(scenario.name) + ", " + fake::kOpNames[static_cast<int>(fault.op)] +
                  " #" + std::to_string(nth) + " failing: " + How(fault.cause),
              run.broken);
      }
    }
  }
  std::printf("fault matrix: %d runs, %d violations\n", runs, violations);
  EXPECT_EQ(violations, 0);
}

}  // namespace
