#include "tests/fake/invariants.h"

#include <algorithm>
#include <iterator>

namespace fake {
namespace {

constexpr const char* kHelpFailed = "ﾍﾙﾌﾟの起動に失敗しました。";
constexpr const char* kPartCannotOpen = "がオープンできません。";

bool StartsWith(const std::string& text, const std::string& head) {
  return text.compare(0, head.size(), head) == 0;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsUserCancel(const std::string& event) {
  return event == "user Cancel" || event == "user Escape" || event == "user CloseButton";
}

// The two maps agree on every entry but the one under name.
template <typename Map>
bool SameBut(const std::string& name, const Map& now, const Map& before) {
  const auto other = [&name](const auto& entry) { return entry.first != name; };
  return std::count_if(now.begin(), now.end(), other) ==
             std::count_if(before.begin(), before.end(), other) &&
         std::all_of(now.begin(), now.end(), [&](const auto& entry) {
           const auto match = before.find(entry.first);
           return !other(entry) || (match != before.end() && match->second == entry.second);
         });
}

// The entry under name is as it was, or gone.
template <typename Map>
bool KeptOrGone(const std::string& name, const Map& now, const Map& before) {
  const auto entry = now.find(name);
  const auto old = before.find(name);
  return entry == now.end() || (old != before.end() && entry->second == old->second);
}

}  // namespace

bool IsFileErrorText(const std::string& text, int cause) {
  const std::string pattern = CFileException(cause, 0, "\x1F").GetErrorMessage();
  const std::string::size_type mark = pattern.find('\x1F');
  return mark == std::string::npos
             ? text == pattern
             : text.size() > pattern.size() - 1 && StartsWith(text, pattern.substr(0, mark)) &&
                   EndsWith(text, pattern.substr(mark + 1));
}

Snapshot Snap(const Platform& world) { return {world.files, world.links}; }

std::vector<std::string> BrokenRules(const Outcome& run, const Snapshot& before,
                                     const std::string& output,
                                     const std::optional<std::vector<unsigned char>>& joined) {
  std::vector<std::string> broken;
  const auto rule = [&broken](bool kept, const std::string& what) {
    if (!kept) broken.push_back(what);
  };

  rule(!run.fileOpen, "a file is left open");
  rule(!run.unnamedLeft, "an unnamed file is left behind");
  rule(!run.progressShown, "the progress window is left up");
  rule(SameBut(output, run.files, before.files), "a file besides the output changed");
  rule(SameBut(output, run.links, before.links), "a link besides the output changed");

  // Under the output's name: what was there, or nothing, until the join is
  // named.
  const std::vector<std::string>& log = run.log;
  const bool named = std::find(log.begin(), log.end(), "commit " + output) != log.end();
  const auto now = run.files.find(output);
  if (named) {
    rule(joined && now != run.files.end() && now->second.data == *joined,
         "the output was named without holding the join");
  } else {
    rule(KeptOrGone(output, run.files, before.files) && KeptOrGone(output, run.links, before.links),
         "the output's name holds something new that was never named");
  }
  std::vector<std::string> launches;
  std::copy_if(log.begin(), log.end(), std::back_inserter(launches),
               [](const std::string& event) { return StartsWith(event, "launch"); });
  rule(launches.empty() ||
           (named && launches == std::vector<std::string>{"launch " + run.outputPath}),
       "launched what was not the named output");

  bool dialogOpen = false;
  bool cancelled = std::find(log.begin(), log.end(), "progress-cancel") != log.end();
  int closing = 0;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (StartsWith(log[i], "dialog-shown")) dialogOpen = true;
    if (StartsWith(log[i], "dialog-ended")) {
      dialogOpen = false;
      cancelled = cancelled || (log[i] == "dialog-ended 2" && IsUserCancel(log[i - 1]));
    }
    if (!StartsWith(log[i], "message ") || shown == run.messages.size()) continue;
    const Message& message = run.messages[shown++];
    bool fileError = false;
    for (int cause = CFileException::none; cause <= CFileException::endOfFile; ++cause) {
      fileError = fileError || IsFileErrorText(message.text, cause);
    }
    const bool outOfMemory = message.text == kOutOfMemory;
    rule(message.type == (fileError     ? MB_ICONSTOP
                          : outOfMemory ? MB_ICONEXCLAMATION | MB_SYSTEMMODAL
                                        : MB_ICONEXCLAMATION),
         "wrong icon for: " + message.text);
    rule((message.owner != nullptr) == dialogOpen, "wrong owner for: " + message.text);
    rule(!message.underProgress, "the progress window is up while this waits: " + message.text);
    // Only a part that cannot be opened is reported while the output, still
    // unnamed, holds what was copied.
    const bool outputMayWait = EndsWith(message.text, kPartCannotOpen);
    rule(std::all_of(message.openFiles.begin(), message.openFiles.end(),
                     [&](const std::string& name) { return outputMayWait && name == output; }),
         "a file is open while this waits: " + message.text);
    // The dialog stays open when the user acts again before it ends.
    const auto next = std::find_if(
        log.begin() + static_cast<std::ptrdiff_t>(i) + 1, log.end(), [](const std::string& event) {
          return StartsWith(event, "user ") || StartsWith(event, "dialog-ended");
        });
    if (dialogOpen && next != log.end() && StartsWith(*next, "user ")) {
      rule(fileError || outOfMemory || message.text == kHelpFailed,
           "the dialog stayed open after: " + message.text);
    } else {
      rule(!dialogOpen || !(fileError || outOfMemory), "the dialog closed after: " + message.text);
      ++closing;
    }
  }
  rule(shown == run.messages.size(), "a message is missing from the log");
  const int expected = named || cancelled ? 0 : 1;
  rule(closing == expected,
       std::to_string(closing) + " closing messages where " + std::to_string(expected) + " belong");
  return broken;
}

}  // namespace fake
