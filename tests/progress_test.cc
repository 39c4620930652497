// The join's progress window on the fake: when it appears, what it is told,
// what stopping it leaves, and that it is gone before a message or a launch.
#include "platform/progress.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "join/join_app.h"
#include "tests/fake/fake_platform.h"
#include "tests/test_util.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Log = std::vector<std::string>;

constexpr std::size_t kBlock = COPY_BUFFER_SIZE;
constexpr const char* kShown = "progress-shown NWD4_322: SETUP.EXE を作成しています…";

class Progress : public ::testing::Test {
 protected:
  // Parts of 2 MiB + 1 and 3 bytes: four blocks of 1 MiB, 1 MiB, 1 and 3.
  void SetUp() override {
    const std::vector<std::size_t> sizes = {2 * kBlock + 1, 3};
    const auto total = static_cast<std::int32_t>(sizes[0] + sizes[1]);
    for (std::int32_t i = 1; i <= 2; ++i) {
      const Bytes payload = testutil::Payload(sizes[i - 1], static_cast<unsigned>(i));
      fake.AddFile(PartFileName(i), testutil::Part(testutil::Header(i, 2, total), payload));
      joined.insert(joined.end(), payload.begin(), payload.end());
    }
  }

  void Join() {
    fake.script = {fake::UserAction::Execute};
    AfxWinMain();
  }

  // Executes the set in a world of its own, whose clock moves half a second
  // at every reading unless arrange says otherwise.
  template <typename Arrange>
  void JoinIn(fake::Platform& world, Arrange arrange) {
    CJoinApp run;
    world.files = fake.files;
    world.clockStep = CJoinProgress::kDelayMs;
    arrange(world);
    world.script = {fake::UserAction::Execute};
    AfxWinMain();
  }

  // Where the first event starting with head stands in the log; the log's
  // size when there is none.
  std::size_t Find(const std::string& head) const {
    return static_cast<std::size_t>(
        std::find_if(fake.log.begin(), fake.log.end(),
                     [&](const std::string& e) { return e.rfind(head, 0) == 0; }) -
        fake.log.begin());
  }
  std::size_t Count(const std::string& head) const { return fake.Events(head).size(); }

  fake::Platform fake;
  CJoinApp app;
  Bytes joined;
};

TEST_F(Progress, StepsAddUpToTheBytesWrittenAndTheWindowGoesBeforeTheLaunch) {
  fake.clockStep = CJoinProgress::kDelayMs;
  Join();
  ASSERT_TRUE(fake.Exists("SETUP.EXE"));
  EXPECT_EQ(fake.Data("SETUP.EXE"), joined);
  // Each block moves the bar on by its own size, up to the whole output.
  const Log updates = fake.Events("progress ");
  const std::size_t total = joined.size();
  const std::uint64_t done[] = {kBlock, 2 * kBlock, 2 * kBlock + 1, total};
  ASSERT_EQ(updates.size(), 4u);
  for (std::size_t i = 0; i < updates.size(); ++i) {
    EXPECT_EQ(updates[i], "progress " + std::to_string(done[i]) + "/" + std::to_string(total));
  }
  EXPECT_EQ(fake.Events("progress-shown"), Log{kShown});
  EXPECT_LT(Find("copy "), Find("progress-shown"));
  EXPECT_LT(Find("progress-gone"), Find("launch"));
  EXPECT_EQ(fake.Events("launch"), Log{"launch C:\\SETUP\\SETUP.EXE"});
}

TEST_F(Progress, StoppingAtAnyStepLeavesNothingLaunchesNothingAndSaysNothing) {
  struct Case {
    const char* name;
    int cancelAt;
  };
  const Case cases[] = {{"first step", 1}, {"a middle step", 2}, {"last step", 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Platform world;
    JoinIn(world, [&](fake::Platform& w) { w.cancelAtUpdate = c.cancelAt; });
    EXPECT_FALSE(world.Exists("SETUP.EXE"));
    EXPECT_TRUE(world.unnamed.empty());
    EXPECT_TRUE(world.handles.empty());
    EXPECT_TRUE(world.messages.empty());
    EXPECT_TRUE(world.Events("launch").empty());
    // No block after the one the user stopped at, and the window goes at once.
    EXPECT_EQ(world.Events("copy ").size(), static_cast<std::size_t>(c.cancelAt));
    const auto stop = std::find(world.log.begin(), world.log.end(), "progress-cancel");
    ASSERT_NE(stop, world.log.end());
    ASSERT_NE(stop + 1, world.log.end());
    EXPECT_EQ(*(stop + 1), "progress-gone");
    EXPECT_EQ(world.Events("discard SETUP.EXE").size(), 1u);
    EXPECT_FALSE(world.progressShown);
  }
}

TEST_F(Progress, TheWindowAppearsOnlyOnceTheJoinHasTakenHalfASecond) {
  struct Case {
    std::uint64_t msPerReading;
    std::size_t blocksBeforeWindow;  // 4 when it never appears
  };
  // The clock is read once as the join starts and once after each block
  // until the window is asked for.
  const Case cases[] = {{0, 4}, {124, 4}, {125, 3}, {250, 1}, {499, 1}, {500, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.msPerReading);
    fake::Platform world;
    JoinIn(world, [&](fake::Platform& w) { w.clockStep = c.msPerReading; });
    ASSERT_TRUE(world.Exists("SETUP.EXE"));
    const std::size_t shown = world.Events("progress-shown").size();
    EXPECT_EQ(shown, c.blocksBeforeWindow < 4 ? 1u : 0u);
    EXPECT_EQ(world.Events("progress ").size(), 4 - c.blocksBeforeWindow);
    EXPECT_EQ(world.progressShown, false);
  }
}

TEST_F(Progress, TheWindowIsGoneBeforeAnyMessageOfTheJoin) {
  struct Case {
    const char* name;
    void (*arrange)(fake::Platform&);
    const char* message;
  };
  const Case cases[] = {
      {"part gone after the check",
       [](fake::Platform& w) {
         w.OnOpen("NWD4_322.002", 2, [&w] { w.files.erase("NWD4_322.002"); });
       },
       "NWD4_322.002がオープンできません。"},
      {"disk full", [](fake::Platform& w) { w.freeSpace = 2 * kBlock; },
       "C:\\SETUP\\SETUP.EXE へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"},
      {"name taken during the join",
       [](fake::Platform& w) { w.FailOn(fake::Op::Commit, "", fake::kRefused); },
       "SETUP.EXEをオープンできません。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Platform world;
    JoinIn(world, c.arrange);
    ASSERT_EQ(world.messages.size(), 1u);
    EXPECT_EQ(world.messages[0].text, c.message);
    EXPECT_FALSE(world.messages[0].underProgress);
    EXPECT_EQ(world.Events("progress-shown").size(), 1u);
    EXPECT_TRUE(world.Events("launch").empty());
  }
}

TEST_F(Progress, AJoinGoesOnWhenNoWindowCanBeShown) {
  fake.clockStep = CJoinProgress::kDelayMs;
  fake.progressCanBeShown = false;
  Join();
  ASSERT_TRUE(fake.Exists("SETUP.EXE"));
  EXPECT_EQ(fake.Data("SETUP.EXE"), joined);
  EXPECT_EQ(Count("progress-failed"), 1u);
  EXPECT_EQ(Count("progress "), 0u);
  EXPECT_EQ(Count("launch"), 1u);
}

}  // namespace
