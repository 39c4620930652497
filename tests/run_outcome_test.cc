// Whether a run ends on a failure, as the framework tells it for the exit
// status: every failure it reported, and nothing else.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "join/join_app.h"
#include "tests/fake/fake_platform.h"
#include "tests/test_util.h"

namespace {

using fake::UserAction;

// A sound set of three parts.
void AddSet(fake::Platform& world) {
  for (std::int32_t i = 1; i <= 3; ++i) {
    world.AddFile(PartFileName(i),
                  testutil::Part(testutil::Header(i, 3, 300), testutil::Payload(100, i)));
  }
}

TEST(RunOutcome, FailsExactlyWhenItEndedOnAReportedFailure) {
  const struct {
    const char* name;
    std::function<void(fake::Platform&)> arrange;
    std::vector<UserAction> user;
    bool failed;
  } cases[] = {
      {"not on a fixed disk", [](fake::Platform& w) { w.driveType = DRIVE_REMOVABLE; }, {}, true},
      {"first part missing", [](fake::Platform& w) { w.files.erase("NWD4_322.001"); }, {}, true},
      {"first part damaged",
       [](fake::Platform& w) { w.files["NWD4_322.001"].data.resize(155); },
       {},
       true},
      {"dialog cannot be shown", [](fake::Platform& w) { w.dialogCanBeShown = false; }, {}, true},
      {"a part missing",
       [](fake::Platform& w) { w.files.erase("NWD4_322.002"); },
       {UserAction::Execute},
       true},
      {"a part damaged",
       [](fake::Platform& w) { w.files["NWD4_322.003"].data.resize(100); },
       {UserAction::Execute},
       true},
      {"wrong total",
       [](fake::Platform& w) { w.files["NWD4_322.003"].data.push_back(0); },
       {UserAction::Execute},
       true},
      {"output cannot be made",
       [](fake::Platform& w) { w.FailOn(fake::Op::Create, "", fake::kRefused); },
       {UserAction::Execute},
       true},
      {"read error while joining",
       [](fake::Platform& w) {
         w.FailOn(fake::Op::Read, "NWD4_322.002", CFileException::hardIO, 2);
       },
       {UserAction::Execute},
       true},
      {"cancel", [](fake::Platform&) {}, {UserAction::Cancel}, false},
      {"escape", [](fake::Platform&) {}, {UserAction::Escape}, false},
      {"close button", [](fake::Platform&) {}, {UserAction::CloseButton}, false},
      {"joined and launched", [](fake::Platform&) {}, {UserAction::Execute}, false},
      // A failure that leaves the dialog open is answered by the user's next
      // command, which decides the run.
      {"help failed, then cancel",
       [](fake::Platform&) {},
       {UserAction::F1, UserAction::Cancel},
       false},
      {"read error in the check, then cancel",
       [](fake::Platform& w) { w.FailOn(fake::Op::Read, "NWD4_322.002", CFileException::hardIO); },
       {UserAction::Execute, UserAction::Cancel},
       false},
      {"read error in the check, then joined",
       [](fake::Platform& w) { w.FailOn(fake::Op::Read, "NWD4_322.002", CFileException::hardIO); },
       {UserAction::Execute, UserAction::Execute},
       false},
      {"help failed, then a part missing",
       [](fake::Platform& w) { w.files.erase("NWD4_322.002"); },
       {UserAction::F1, UserAction::Execute},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Platform world;
    CJoinApp app;
    AddSet(world);
    c.arrange(world);
    world.script.assign(c.user.begin(), c.user.end());
    AfxWinMain();
    EXPECT_EQ(AfxRunFailed(), c.failed ? TRUE : FALSE);
    if (c.failed) {
      EXPECT_TRUE(world.Events("launch").empty());
    }
  }
}

}  // namespace
