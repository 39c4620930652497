// The confirmation dialog on the fake platform, and its template data.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "join/join_app.h"
#include "platform/resources.h"
#include "tests/fake/fake_platform.h"
#include "tests/test_util.h"
#include "ui/join_dlg.h"
#include "ui/resource.h"

namespace {

using fake::UserAction;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.AddFile("NWD4_322.001", testutil::HeaderBytes(testutil::Header(1, 1, 0)));
  }
  fake::Platform fake;
  CJoinApp app;
};

TEST_F(Dialog, InitialisationSetsBothIconsThenFocusesExecute) {
  fake.script = {UserAction::Cancel};
  AfxWinMain();
  EXPECT_THAT(fake.Events(""), testing::IsSupersetOf({"dialog-shown 102", "set-icon big",
                                                      "set-icon small", "focus first-tab-stop"}));
  const auto& log = fake.log;
  const auto shown = std::find(log.begin(), log.end(), "dialog-shown 102");
  ASSERT_GE(log.end() - shown, 4);
  EXPECT_THAT(
      std::vector<std::string>(shown, shown + 4),
      ElementsAre("dialog-shown 102", "set-icon big", "set-icon small", "focus first-tab-stop"));
}

TEST_F(Dialog, F1AsksTheHelpViewerForTheDialogsTopic) {
  fake.helpViewerStarts = true;
  fake.script = {UserAction::F1, UserAction::Cancel};
  AfxWinMain();
  EXPECT_THAT(fake.Events("help"), ElementsAre("help C:\\SETUP\\NWD4_322.HLP 0x20066"));
  EXPECT_THAT(fake.messages, IsEmpty());
  EXPECT_THAT(fake.Events("dialog-ended"), ElementsAre("dialog-ended 2"));

  // Only the program file's own extension gives way, not a dot in a folder.
  fake::Platform world;
  world.programPath = "D:\\TOOLS.V2\\NWD4_322";
  world.AddFile("NWD4_322.001", testutil::HeaderBytes(testutil::Header(1, 1, 0)));
  world.helpViewerStarts = true;
  world.script = {UserAction::F1, UserAction::Cancel};
  AfxWinMain();
  EXPECT_THAT(world.Events("help"), ElementsAre("help D:\\TOOLS.V2\\NWD4_322.HLP 0x20066"));
}

TEST_F(Dialog, FailedCheckEndsTheDialogWithCancel) {
  fake.files["NWD4_322.001"].data.push_back(0);  // a byte beyond the total
  fake.script = {UserAction::Execute, UserAction::Execute};
  AfxWinMain();
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_THAT(fake.Events("user"), ElementsAre("user Execute"));
  EXPECT_THAT(fake.Events("dialog-ended"), ElementsAre("dialog-ended 2"));
}

TEST_F(Dialog, HelpThatCannotStartIsSaidAndTheDialogStaysOpen) {
  fake.script = {UserAction::F1, UserAction::Escape};
  AfxWinMain();
  EXPECT_THAT(fake.Events("message"),
              ElementsAre("message exclamation owned: ﾍﾙﾌﾟの起動に失敗しました。"));
  EXPECT_THAT(fake.Events("user"), ElementsAre("user F1", "user Escape"));
  EXPECT_THAT(fake.Events("dialog-ended"), ElementsAre("dialog-ended 2"));
}

TEST_F(Dialog, MinimisedPaintCentresTheIcon) {
  fake.iconic = true;
  fake.clientRect = {0, 0, 37, 61};
  fake.script = {UserAction::Paint, UserAction::Cancel};
  AfxWinMain();
  // (37 - 32 + 1) / 2 = 3 and (61 - 32 + 1) / 2 = 15.
  EXPECT_THAT(fake.Events("paint"), ElementsAre("paint-begin", "paint-end"));
  const auto begin = std::find(fake.log.begin(), fake.log.end(), "paint-begin");
  ASSERT_GE(fake.log.end() - begin, 4);
  EXPECT_THAT(std::vector<std::string>(begin, begin + 4),
              ElementsAre("paint-begin", "send 0x27 7", "draw-icon 3 15", "paint-end"));
}

TEST_F(Dialog, MinimisedPaintTruncatesTowardZeroWhenTheIconIsWider) {
  fake.iconic = true;
  fake.clientRect = {0, 0, 20, 0};
  fake.script = {UserAction::Paint, UserAction::Cancel};
  AfxWinMain();
  // (20 - 32 + 1) / 2 = -5.5 → -5; (0 - 32 + 1) / 2 = -15.5 → -15.
  EXPECT_THAT(fake.Events("draw-icon"), ElementsAre("draw-icon -5 -15"));
}

TEST_F(Dialog, NormalPaintDrawsNoIcon) {
  fake.script = {UserAction::Paint, UserAction::Cancel};
  AfxWinMain();
  EXPECT_THAT(fake.Events("draw-icon"), IsEmpty());
  EXPECT_THAT(fake.Events("paint"), ElementsAre("paint-begin", "paint-end"));
}

TEST_F(Dialog, DragIconIsTheProgramIcon) {
  CJoinDlg dlg;
  EXPECT_NE(dlg.m_hIcon, nullptr);
  EXPECT_EQ(dlg.OnQueryDragIcon(), dlg.m_hIcon);
}

TEST_F(Dialog, ErrorLeavingTheModalLoopStillEndsTheMainWindowRegistration) {
  struct Failing : CDialog {
    Failing() : CDialog(102) {}
    BOOL OnInitDialog() override { throw std::runtime_error("no window"); }
  } dialog;
  app.m_pMainWnd = &dialog;
  EXPECT_THROW(dialog.DoModal(), std::runtime_error);
  EXPECT_EQ(app.m_pMainWnd, nullptr);
  EXPECT_EQ(dialog.m_hWnd, nullptr);
}

TEST(DialogTemplate, CarriesTheExactCaptionFontSizeAndControls) {
  const DialogTemplate* dialog = FindDialogTemplate(IDD_JOIN);
  ASSERT_NE(dialog, nullptr);
  EXPECT_STREQ(dialog->caption, "「ソルネ」PRO NWD4C");
  EXPECT_STREQ(dialog->fontName, "ＭＳ Ｐゴシック");
  EXPECT_EQ(dialog->pointSize, 9);
  EXPECT_EQ(dialog->x, 0);
  EXPECT_EQ(dialog->y, 0);
  EXPECT_EQ(dialog->cx, 214);
  EXPECT_EQ(dialog->cy, 77);
  EXPECT_EQ(dialog->style, 0x90C800C0u);
  EXPECT_EQ(dialog->exStyle, 0x00040000u);
  ASSERT_EQ(dialog->controlCount, 4u);

  struct Expected {
    UINT id;
    DialogControl::Kind kind;
    std::string text;
    int x, y, cx, cy;
    DWORD style;
  };
  const Expected expected[] = {
      {1, DialogControl::Button, "実行", 157, 56, 50, 14, 0x10010001},
      {2, DialogControl::Button, "中止", 7, 56, 50, 14, 0x10010000},
      {1001, DialogControl::Static, "「ソルネ」PRO NWD4Cインストーラ分割データを結合します。", 7, 7,
       200, 13, 0x10020000},
      {1002, DialogControl::Static,
       "必要なファイルをすべて同じフォルダにコピーしたことを確認後、\n\"実行\"ボタンを押してくださ"
       "い。",
       7, 25, 200, 26, 0x10020000},
  };
  for (std::size_t i = 0; i < 4; ++i) {
    const DialogControl& c = dialog->controls[i];
    EXPECT_EQ(c.id, expected[i].id) << i;
    EXPECT_EQ(c.kind, expected[i].kind) << i;
    EXPECT_EQ(c.text, expected[i].text) << i;
    EXPECT_EQ(c.x, expected[i].x) << i;
    EXPECT_EQ(c.y, expected[i].y) << i;
    EXPECT_EQ(c.cx, expected[i].cx) << i;
    EXPECT_EQ(c.cy, expected[i].cy) << i;
    EXPECT_EQ(c.style, expected[i].style) << i;
  }
  EXPECT_EQ(FindDialogTemplate(103), nullptr);
}

}  // namespace
