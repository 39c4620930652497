// What every run on the fake must keep, whatever failed on the way: shared
// by the fault matrix and the fuzzer.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"

namespace fake {

// The framework's lack-of-memory report.
constexpr const char* kOutOfMemory = "ﾒﾓﾘが不足しています。";

// The framework's text for a file error of the cause, whatever file it names.
bool IsFileErrorText(const std::string& text, int cause);

// The files and links of a folder, to compare after a run.
struct Snapshot {
  std::map<std::string, File> files;
  std::map<std::string, std::string> links;
};
Snapshot Snap(const Platform& world);

// What a finished run left and did, however it was run: on the fake, or on
// a real folder through the real backend.
struct Outcome {
  const std::map<std::string, File>& files;
  const std::map<std::string, std::string>& links;
  bool fileOpen;       // a file of the folder is still open
  bool unnamedLeft;    // a new file without a name is still there
  bool progressShown;  // the progress window is still up
  const std::vector<std::string>& log;
  const std::vector<Message>& messages;
  std::string outputPath;  // the output's full path, as a launch names it
};

// The broken rules of a finished run, one line each. before: the folder as
// the run must leave it, but for the output's name; output: the name the
// joined file takes; joined: the bytes it must hold once named, none when
// the folder holds no set that could be joined.
// - nothing stays open or unnamed, no progress window stays up; every file
//   and link but the output is as before;
// - under the output's name: the joined bytes if the join named it, else
//   nothing or the file that was there;
// - a launch only of that file, once named, with no progress window up;
// - the stop icon for file errors, the exclamation for every other message
//   (system-modal for lack of memory); the dialog owns the messages it is
//   open for, and no file is open while one waits, but the unnamed output
//   while a part that cannot be opened is reported;
// - a message that the dialog stays open after is a platform error, lack of
//   memory or the help viewer's failure, and a platform error in the dialog
//   always leaves it open; none waits under the progress window;
// - exactly one closing message, unless the output was named or the user
//   cancelled the dialog or stopped the join, and then none.
std::vector<std::string> BrokenRules(const Outcome& run, const Snapshot& before,
                                     const std::string& output,
                                     const std::optional<std::vector<unsigned char>>& joined);
inline std::vector<std::string> BrokenRules(
    const Platform& world, const Snapshot& before, const std::string& output,
    const std::optional<std::vector<unsigned char>>& joined) {
  return BrokenRules(
      Outcome{world.files, world.links, !world.handles.empty(), !world.unnamed.empty(),
              world.progressShown, world.log, world.messages, world.FullPath(output)},
      before, output, joined);
}

}  // namespace fake
