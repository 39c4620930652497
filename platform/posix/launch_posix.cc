// The launch as the program sees it. Where the shell of another system shows
// its own box when it cannot start a file, the program says so here: the
// user learns that the join succeeded and where the file is.
#include "platform/posix/launch_posix.h"

#include <string>

#include "platform/app.h"
#include "platform/system.h"

namespace {

// An opener that cannot open a file says so within a fraction of a second
// (xdg-open without a handler: status 3 after 0.04 s here, 0.4 s with a
// display). One that is still running after this has found a handler, which
// may keep it in the foreground as long as the installer runs: the program
// stops waiting and ends.
constexpr int kOpenerVerdictMilliseconds = 2000;

constexpr const char* kNotOpened = "\n上記のファイルを作成しましたが、開くことができませんでした。";

}  // namespace

void LaunchFile(const std::string& fullPath) {
  switch (posix::StartOpener(fullPath, kOpenerVerdictMilliseconds)) {
    case posix::OpenerResult::Missing:
    case posix::OpenerResult::Failed:
      AfxMessageBox(fullPath + kNotOpened);
      break;
    case posix::OpenerResult::Succeeded:
    case posix::OpenerResult::Running:
      break;
  }
}
