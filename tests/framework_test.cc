// The framework's own reports: the text of every file error, and what is
// shown when memory runs out in the start-up hook or in a command handler.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "join/join_app.h"
#include "tests/fake/fake_platform.h"
#include "tests/test_util.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string WithName(std::string text, const std::string& name) {
  const std::string::size_type placeholder = text.find("%1");
  return placeholder == std::string::npos ? text : text.replace(placeholder, 2, name);
}

TEST(FileErrorText, EveryCauseNamesTheFileOrTheUntitledFile) {
  const char* const texts[] = {
      "ｴﾗｰはありませんでした。",
      "%1 へのｱｸｾｽ中に不明なｴﾗｰが発生しました。",
      "%1 が見つかりませんでした。",
      "%1 には無効なﾊﾟｽが含まれています。",
      "開いているﾌｧｲﾙが多すぎるため、%1 を開けませんでした。",
      "%1 へのｱｸｾｽは拒否されました。",
      "%1 へ無効なﾌｧｲﾙ ﾊﾝﾄﾞﾙが関連付けられていました。",
      "現在のﾃﾞｨﾚｸﾄﾘ %1 は削除できませんでした。",
      "%1 を作成できませんでした。そのﾃﾞｨﾚｸﾄﾘはいっぱいです。",
      "%1 のｼｰｸに失敗しました。",
      "%1 へのｱｸｾｽ中にﾊｰﾄﾞｳｪｱ I/O ｴﾗｰが報告されました。",
      "%1 へのｱｸｾｽ中に共有違反が発生しました。",
      "%1 へのｱｸｾｽ中にﾛｯｸ違反が発生しました。",
      "%1 へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。",
      "%1 の末尾以降にｱｸｾｽしようとしました。",
  };
  const std::string path = "C:\\SETUP\\SETUP.EXE";
  for (int cause = 0; cause <= CFileException::endOfFile; ++cause) {
    EXPECT_EQ(CFileException(cause, 5, path).GetErrorMessage(), WithName(texts[cause], path))
        << cause;
    EXPECT_EQ(CFileException(cause, 5).GetErrorMessage(), WithName(texts[cause], "無題のﾌｧｲﾙ"))
        << cause;
  }
  // A cause the framework does not know reads as an unknown error.
  for (int cause : {-1, CFileException::endOfFile + 1}) {
    EXPECT_EQ(CFileException(cause).GetErrorMessage(), WithName(texts[1], "無題のﾌｧｲﾙ")) << cause;
  }
}

TEST(OutOfMemory, IsReportedSystemModalFromTheStartUpHookAndFromTheExecuteHandler) {
  // The first open of part 1 is the start-up's, the second the Execute
  // handler's: memory runs out just before it.
  for (int nth : {1, 2}) {
    fake::Platform world;
    CJoinApp run;
    world.AddFile("NWD4_322.001",
                  testutil::Part(testutil::Header(1, 1, 4), testutil::Payload(4, 1)));
    world.OnOpen("NWD4_322.001", nth, [] { throw std::bad_alloc(); });
    world.script = {fake::UserAction::Execute, fake::UserAction::Execute};
    AfxWinMain();
    ASSERT_EQ(world.messages.size(), 1u) << nth;
    EXPECT_EQ(world.messages[0].text, "ﾒﾓﾘが不足しています。");
    EXPECT_EQ(world.messages[0].type, MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
    if (nth == 1) {
      // The run ends there.
      EXPECT_EQ(world.messages[0].owner, nullptr);
      EXPECT_THAT(world.Events("dialog"), IsEmpty());
    } else {
      // The dialog owns the report, stays open, and the second press joins.
      EXPECT_NE(world.messages[0].owner, nullptr);
      EXPECT_THAT(world.Events("launch"), ElementsAre("launch C:\\SETUP\\SETUP.EXE"));
    }
  }
}

}  // namespace
