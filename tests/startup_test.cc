// The start-up sequence on the fake platform: drive check, first header,
// the dialog step, with the exact messages in their order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "join/join_app.h"
#include "tests/fake/fake_platform.h"
#include "tests/test_util.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kDriveMessage = "ハードディスク上で実行してください。";
constexpr const char* kNotFound = "NWD4_322.001 が見つかりません。\n終了します。";
constexpr const char* kDamaged =
    "NWD4_322.001 "
    "を正しく読み込む事ができません。\nファイルが壊れている可能性があります。\n終了します。";

class Startup : public ::testing::Test {
 protected:
  void AddFirstPart(const DIVHEADER& header) {
    fake.AddFile("NWD4_322.001", testutil::HeaderBytes(header));
  }
  void Run() { AfxWinMain(); }

  fake::Platform fake;
  CJoinApp app;
};

TEST_F(Startup, EveryDriveButAFixedDiskIsRefusedAndNothingElseHappens) {
  for (UINT type : {DRIVE_UNKNOWN, DRIVE_NO_ROOT_DIR, DRIVE_REMOVABLE, DRIVE_REMOTE, DRIVE_CDROM,
                    DRIVE_RAMDISK}) {
    fake::Platform world;
    world.driveType = type;
    world.AddFile("NWD4_322.001", testutil::HeaderBytes(testutil::Header(1, 1, 0)));
    AfxWinMain();
    EXPECT_THAT(world.log,
                ElementsAre("init-process", "drive-type C:\\SETUP\\",
                            std::string("message exclamation unowned: ") + kDriveMessage))
        << type;
    ASSERT_EQ(world.messages.size(), 1u);
    EXPECT_EQ(world.messages[0].caption, "NWD4_322");
    EXPECT_EQ(world.messages[0].type, MB_ICONEXCLAMATION);
    EXPECT_EQ(world.messages[0].owner, nullptr);
  }
}

TEST_F(Startup, UnreadableFolderGetsTheDriveMessage) {
  // A folder that cannot be read, and one read as an empty text.
  for (const bool readable : {false, true}) {
    fake::Platform world;
    world.folderReadable = readable;
    world.folder = "";
    AfxWinMain();
    EXPECT_THAT(
        world.log,
        ElementsAre("init-process", std::string("message exclamation unowned: ") + kDriveMessage));
  }
}

TEST_F(Startup, DriveRootGetsNoSecondSeparator) {
  fake.folder = "C:\\";
  AddFirstPart(testutil::Header(1, 1, 0));
  Run();
  EXPECT_EQ(app.m_strFolder, "C:\\");
  EXPECT_EQ(fake.Events("drive-type"), std::vector<std::string>{"drive-type C:\\"});
  const std::vector<std::string> opens = fake.Events("open");
  ASSERT_FALSE(opens.empty());
  EXPECT_EQ(opens[0], "open NWD4_322.001 read");
}

TEST_F(Startup, MissingFirstPartGetsTheNotFoundMessage) {
  Run();
  EXPECT_THAT(fake.Events("message"),
              ElementsAre(std::string("message exclamation unowned: ") + kNotFound));
  EXPECT_THAT(fake.Events("dialog"), IsEmpty());
}

TEST_F(Startup, FirstPartHeldByAnotherProgramGetsTheNotFoundMessage) {
  AddFirstPart(testutil::Header(1, 1, 0));
  fake.files["NWD4_322.001"].heldByOther = true;
  Run();
  EXPECT_THAT(fake.Events("message"),
              ElementsAre(std::string("message exclamation unowned: ") + kNotFound));
}

TEST_F(Startup, ShortFirstPartIsDamagedAndClosedBeforeTheMessage) {
  std::vector<unsigned char> bytes = testutil::HeaderBytes(testutil::Header(1, 1, 0));
  bytes.pop_back();
  fake.AddFile("NWD4_322.001", bytes);
  Run();
  EXPECT_THAT(fake.log,
              ElementsAre("init-process", "drive-type C:\\SETUP\\", "open NWD4_322.001 read",
                          "read NWD4_322.001 156 got 155", "close NWD4_322.001",
                          std::string("message exclamation unowned: ") + kDamaged));
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_THAT(fake.messages[0].openFiles, IsEmpty());
}

TEST_F(Startup, WrongSignatureIsDamaged) {
  DIVHEADER header = testutil::Header(1, 1, 0);
  std::memcpy(header.szSignature, "DIVINFOX", 9);
  AddFirstPart(header);
  Run();
  EXPECT_THAT(fake.Events("message"),
              ElementsAre(std::string("message exclamation unowned: ") + kDamaged));
}

TEST_F(Startup, SignatureEndingInLeadByteAndNulIsAccepted) {
  DIVHEADER header = testutil::Header(1, 1, 0);
  const char signature[] = {'D', 'I', 'V', 'I', 'N', 'F', 'O', '\x81', '\0'};
  std::memcpy(header.szSignature, signature, sizeof signature);
  AddFirstPart(header);
  fake.script = {fake::UserAction::Cancel};
  Run();
  EXPECT_THAT(fake.Events("dialog"), ElementsAre("dialog-shown 102", "dialog-ended 2"));
}

TEST_F(Startup, FirstPartNumberedTwoStillReachesTheDialog) {
  AddFirstPart(testutil::Header(2, 1, 0));
  fake.script = {fake::UserAction::Cancel};
  Run();
  EXPECT_THAT(fake.Events("dialog"), ElementsAre("dialog-shown 102", "dialog-ended 2"));
  EXPECT_EQ(app.m_divHeader.nPartNumber, 2);
}

TEST_F(Startup, OutputNamesThatAreNotPlainFilesMakeTheFirstPartDamaged) {
  for (const char* name : {"..\\EVIL.EXE", "C:\\X.EXE", "X.EXE:ads", "CON", "lpt3.txt",
                           "NWD4_322.001", "NWD4_322.003", "NWD4_322.EXE", ".."}) {
    fake::Platform world;
    world.AddFile("NWD4_322.001", testutil::HeaderBytes(testutil::Header(1, 3, 0, name)));
    AfxWinMain();
    EXPECT_THAT(world.Events("message"),
                ElementsAre(std::string("message exclamation unowned: ") + kDamaged))
        << name;
    EXPECT_THAT(world.Events("dialog"), IsEmpty()) << name;
  }
}

TEST_F(Startup, OutputNamedByAnotherFilesShortNameMakesTheFirstPartDamaged) {
  // SETUPJ~1.EXE leads to SETUPJAPAN.EXE: refused as its short name, not as a
  // name of its own (a link).
  for (const bool shortName : {true, false}) {
    fake::Platform world;
    world.AddFile("SETUPJAPAN.EXE", {9, 9, 9, 9});
    world.links["SETUPJ~1.EXE"] = "SETUPJAPAN.EXE";
    if (shortName) world.shortNames.insert("SETUPJ~1.EXE");
    world.AddFile("NWD4_322.001", testutil::HeaderBytes(testutil::Header(1, 1, 0, "SETUPJ~1.EXE")));
    world.script = {fake::UserAction::Cancel};
    AfxWinMain();
    EXPECT_EQ(world.Events("message").size(), shortName ? 1u : 0u) << shortName;
    EXPECT_EQ(world.Events("dialog").empty(), shortName) << shortName;
    EXPECT_EQ(world.Data("SETUPJAPAN.EXE"), std::vector<unsigned char>(4, 9));
  }
}

TEST_F(Startup, ImplausiblePartCountMakesTheFirstPartDamaged) {
  AddFirstPart(testutil::Header(1, MAX_PART_COUNT + 1, 0));
  Run();
  EXPECT_THAT(fake.Events("message"),
              ElementsAre(std::string("message exclamation unowned: ") + kDamaged));

  // The largest count allowed still reaches the dialog.
  fake::Platform world;
  world.AddFile("NWD4_322.001", testutil::HeaderBytes(testutil::Header(1, MAX_PART_COUNT, 0)));
  world.script = {fake::UserAction::Cancel};
  AfxWinMain();
  EXPECT_THAT(world.Events("dialog"), ElementsAre("dialog-shown 102", "dialog-ended 2"));
}

TEST_F(Startup, ReadErrorOnTheFirstPartIsReportedAfterItIsClosed) {
  AddFirstPart(testutil::Header(1, 1, 0));
  fake.FailOn(fake::Op::Read, "NWD4_322.001", CFileException::hardIO);
  Run();
  EXPECT_THAT(fake.log, ElementsAre("init-process", "drive-type C:\\SETUP\\",
                                    "open NWD4_322.001 read", "close NWD4_322.001",
                                    "message stop unowned: C:\\SETUP\\NWD4_322.001 "
                                    "へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。"));
}

TEST_F(Startup, DialogThatCannotBeShownEndsTheRunSilently) {
  AddFirstPart(testutil::Header(1, 1, 0));
  fake.dialogCanBeShown = false;
  Run();
  EXPECT_THAT(fake.Events("message"), IsEmpty());
  EXPECT_THAT(fake.Events("dialog"), ElementsAre("dialog-failed"));
  EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST_F(Startup, CaptionIsTheProgramFileNameWhateverItIsCalled) {
  fake.programPath = "D:\\TOOLS\\Joiner.v2.exe";
  Run();
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].caption, "Joiner.v2");
}

}  // namespace
