// The confirmation dialog's template as data: the one description that the
// windows are built from. The Windows resource script carries the same
// template; a test holds the two in agreement.
#include "platform/resources.h"
#include "ui/resource.h"

namespace {

constexpr DWORD kButtonStyle = WS_VISIBLE | WS_TABSTOP;
constexpr DWORD kStaticStyle = WS_VISIBLE | WS_GROUP | SS_LEFT;

constexpr DialogControl kJoinControls[] = {
    {IDOK, DialogControl::Button, "実行", 157, 56, 50, 14, kButtonStyle | BS_DEFPUSHBUTTON},
    {IDCANCEL, DialogControl::Button, "中止", 7, 56, 50, 14, kButtonStyle | BS_PUSHBUTTON},
    {IDC_INTRO_TEXT, DialogControl::Static,
     "「ソルネ」PRO NWD4Cインストーラ分割データを結合します。", 7, 7, 200, 13, kStaticStyle},
    {IDC_GUIDE_TEXT, DialogControl::Static,
     "必要なファイルをすべて同じフォルダにコピーしたことを確認後、\n"
     "\"実行\"ボタンを押してください。",
     7, 25, 200, 26, kStaticStyle},
};

constexpr DialogTemplate kJoinDialog = {
    IDD_JOIN,
    "「ソルネ」PRO NWD4C",
    "ＭＳ Ｐゴシック",
    9,
    0,
    0,
    214,
    77,
    WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
    WS_EX_APPWINDOW,
    kJoinControls,
    sizeof kJoinControls / sizeof kJoinControls[0],
};

}  // namespace

const DialogTemplate* FindDialogTemplate(UINT id) {
  return id == IDD_JOIN ? &kJoinDialog : nullptr;
}
