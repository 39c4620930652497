// The Windows backend's system calls, failed one at a time at each of their
// occurrences, the way the system fails them, in every kind of run in a real
// folder. Whatever fails, every part stays as it was, the output's name
// holds the whole join or nothing new, nothing else is left behind, only the
// whole output is started, and the run ends with one message of the right
// icon unless it joined or the user cancelled.
//
// Usage: fault_matrix.exe FOLDER   (a scratch folder, emptied as it goes)
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "join/join_app.h"
#include "platform/file.h"
#include "platform/win32/win32_api.h"
#include "tests/matrix_tally.h"
#include "tests/test_util.h"
#include "tests/wine/fault_hooks.h"

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using Folder = std::map<std::string, Bytes>;

namespace {

const char kOutput[] = "SETUP.EXE";
const std::string kOutOfMemory = "ﾒﾓﾘが不足しています。";
const std::string kHelpFailed = "ﾍﾙﾌﾟの起動に失敗しました。";
const std::string kPartCannotOpen = "がオープンできません。";

struct Message {
  std::string text;
  unsigned type;
  bool owned;
  bool dialogOpen;
  int openHandles;
  bool outputNew;  // the output's name holds something it did not
};

// What the scripted user did and saw in one run.
struct Screen {
  std::vector<int> script;  // the buttons pressed, in turn
  std::vector<std::string> log;
  std::vector<Message> messages;
  std::optional<Bytes> oldOutput;  // what the output's name held before
  bool dialogOpen = false;
  bool cancelled = false;
} g_screen;

int g_window;  // the dialog's stand-in handle

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Folder ReadFolder(const fs::path& folder) {
  Folder files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadFile(entry.path());
  }
  return files;
}

}  // namespace

// The system's windows, played by the scripted user.
namespace win32 {

std::intptr_t RunModalDialog(unsigned, DialogHandlers& handlers) {
  g_screen.dialogOpen = true;
  handlers.OnInit(&g_window);
  std::vector<int> script = g_screen.script;
  script.push_back(2);  // whoever stays at the dialog ends it at last
  int result = -1;
  for (const int button : script) {
    g_screen.log.push_back("user");
    if (handlers.OnCommand(static_cast<unsigned>(button), result)) {
      g_screen.cancelled = button == 2 && result == 2;
      break;
    }
  }
  g_screen.dialogOpen = false;
  g_screen.log.push_back("dialog-ended");
  return result;
}

int ShowMessage(void* owner, const std::string& text, const std::string&, unsigned type) {
  g_screen.log.push_back("message");
  const bool exists = fs::exists(kOutput);
  g_screen.messages.push_back(
      {text, type, owner != nullptr, g_screen.dialogOpen, faults::OpenHandles(),
       exists && (!g_screen.oldOutput || ReadFile(kOutput) != *g_screen.oldOutput)});
  return 1;
}

bool IsMinimised(void*) { return false; }
void SetWindowIcon(void*, void*, bool) {}
Rect ClientRect(void*) { return Rect{0, 0, 320, 200}; }
std::intptr_t Send(void*, unsigned, std::uintptr_t, std::intptr_t) { return 0; }
std::uintptr_t BeginPainting(void*, void*& state) {
  return reinterpret_cast<std::uintptr_t>(state = nullptr);
}
void EndPainting(void*, void*) {}
void DrawIconAt(std::uintptr_t, int, int, void*) {}
int SystemMetric(int) { return 32; }
void* LoadProgramIcon(unsigned) { return &g_window; }
bool StartHelp(const std::string&, unsigned long) { return false; }
bool HelpViewerWorks() { return false; }
std::wstring DialogFace(const std::wstring& face) { return face; }

}  // namespace win32

namespace {

// Three parts, the last of them empty, changed into each kind of run.
struct Scenario {
  const char* name;
  void (*change)(Folder&);
  bool joins;    // the folder holds a set the join may write
  bool refused;  // even so, a run without a fault refuses it
  std::vector<int> script;
  // What else the folder holds, or will: a link, a read-only file, a file
  // that another program puts under the output's name during the join,
  // which it then answers.
  std::optional<Bytes> (*setup)(const fs::path&);
  // The first part's mark of the web, or none: read from every part, and
  // written onto the output where the volume keeps streams.
  int zone;
};

const Bytes kIntruder(7, 0xAB);

std::optional<Bytes> Nothing(const fs::path&) { return std::nullopt; }

const Scenario kScenarios[] = {
    {"sound set", [](Folder&) {}, true, false, {1, 1}, Nothing, win32::kNoZone},
    {"cancel", [](Folder&) {}, true, false, {2}, Nothing, win32::kNoZone},
    {"marked set", [](Folder&) {}, true, false, {1, 1}, Nothing, 3},
    {"missing part",
     [](Folder& f) { f.erase("NWD4_322.002"); },
     false,
     false,
     {1, 1},
     Nothing,
     win32::kNoZone},
    {"damaged part",
     [](Folder& f) { f["NWD4_322.003"][0] = 'X'; },
     false,
     false,
     {1, 1},
     Nothing,
     win32::kNoZone},
    {"wrong total",
     [](Folder& f) { f["NWD4_322.002"].push_back(0); },
     false,
     false,
     {1, 1},
     Nothing,
     win32::kNoZone},
    {"name taken",
     [](Folder& f) { f[kOutput] = Bytes(9, 0xEE); },
     true,
     false,
     {1, 1},
     Nothing,
     win32::kNoZone},
    // The set is refused while the backend can tell the files apart, and
    // joined over the link, which leaves the part as it is, when it cannot.
    {"name of a part",
     [](Folder&) {},
     true,
     true,
     {1, 1},
     [](const fs::path& folder) {
       fs::create_hard_link(folder / PartFileName(3), folder / kOutput);
       return std::optional<Bytes>();
     },
     win32::kNoZone},
    {"name taken by a read-only file",
     [](Folder& f) { f[kOutput] = Bytes(9, 0xEE); },
     false,
     false,
     {1, 1},
     [](const fs::path& folder) {
       fs::permissions(folder / kOutput, fs::perms::owner_write, fs::perm_options::remove);
       return std::optional<Bytes>();
     },
     win32::kNoZone},
    // The file stays; a second press deletes it as it would any old output.
    {"name taken during the join",
     [](Folder&) {},
     true,
     true,
     {1, 1},
     [](const fs::path&) {
       faults::BeforeFlush([] {
         std::ofstream(kOutput, std::ios::binary)
             .write(reinterpret_cast<const char*>(kIntruder.data()),
                    static_cast<std::streamsize>(kIntruder.size()));
       });
       return std::optional<Bytes>(kIntruder);
     },
     win32::kNoZone},
};

// Empties the folder, also of read-only files that a faulty run left.
void Clear(const fs::path& folder) {
  if (!fs::exists(folder)) return;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    fs::permissions(entry.path(), fs::perms::all);
  }
  fs::remove_all(folder);
}

// The framework's text for a file error of the cause (any cause for -1),
// whatever file it names.
bool IsFileErrorText(const std::string& text, int only = -1) {
  for (int cause = CFileException::none; cause <= CFileException::endOfFile; ++cause) {
    if (only >= 0 && cause != only) continue;
    const std::string pattern = CFileException(cause, 0, "\x1F").GetErrorMessage();
    const std::size_t mark = pattern.find('\x1F');
    const std::size_t tail = pattern.size() - mark - 1;
    if (mark == std::string::npos
            ? text == pattern
            : text.size() >= pattern.size() && text.compare(0, mark, pattern, 0, mark) == 0 &&
                  text.compare(text.size() - tail, tail, pattern, mark + 1, tail) == 0) {
      return true;
    }
  }
  return false;
}

// The rules one run broke; nothing when the armed fault never struck.
std::optional<std::vector<std::string>> RunOnce(const fs::path& folder, const Scenario& scenario,
                                                int fault, int nth) {
  Clear(folder);
  fs::create_directories(folder);
  Bytes joined;
  Folder files;
  for (const auto& [name, bytes] : testutil::SmallSet(joined)) files[name] = bytes;
  scenario.change(files);
  for (const auto& [name, bytes] : files) {
    std::ofstream(folder / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
  const std::optional<Bytes> intruder = scenario.setup(folder);
  if (scenario.zone != win32::kNoZone) {
    win32::WriteZone((folder / PartFileName(1)).string(), scenario.zone);
  }
  Folder before = ReadFolder(folder);
  if (intruder) before[kOutput] = *intruder;
  g_screen = Screen{};
  g_screen.script = scenario.script;
  if (before.count(kOutput)) g_screen.oldOutput = before.at(kOutput);
  fs::current_path(folder);

  std::vector<std::string> broken;
  const auto rule = [&broken](bool kept, const std::string& what) {
    if (!kept) broken.push_back(what);
  };
  faults::Arm(fault, nth);
  try {
    CJoinApp app;
    AfxWinMain();
  } catch (...) {
    broken.push_back("an exception left the run");
  }
  const bool met = faults::Met();
  const std::vector<faults::Launch> launches = faults::Launches();
  const int openHandles = faults::OpenHandles();
  faults::Arm(fault, 0);
  fs::current_path(folder.parent_path());
  if (nth > 0 && !met) return std::nullopt;

  Folder after = ReadFolder(folder);
  const auto output = after.find(kOutput);
  const auto old = before.find(kOutput);
  const bool named = scenario.joins && output != after.end() && output->second == joined;
  rule(named || output == after.end() || (old != before.end() && output->second == old->second),
       "the output's name holds something new that is not the join");
  after.erase(kOutput);
  Folder kept = before;
  kept.erase(kOutput);
  rule(after == kept, "a part changed, or something was left beside the output");
  rule(openHandles == 0, "a handle is left open");
  rule(faults::ProcessErrorModeKept(), "the process's error mode changed");
  rule(launches.empty() || (named && launches.size() == 1 && launches[0].bytes == joined &&
                            fs::path(launches[0].path).filename() == kOutput),
       "started what is not the whole output");
  if (nth == 0 || faults::Absorbed(fault)) {
    const bool joins = scenario.joins && !scenario.refused;
    rule(launches.size() == (joins && scenario.script[0] == 1 ? 1u : 0u) &&
             g_screen.messages.size() == (joins ? 0u : 1u),
         "the run did not end as it does without a fault");
  }

  int closing = 0;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < g_screen.log.size(); ++i) {
    if (g_screen.log[i] != "message") continue;
    const Message& message = g_screen.messages[shown++];
    const bool fileError = IsFileErrorText(message.text);
    const bool outOfMemory = message.text == kOutOfMemory;
    rule(message.type == (fileError     ? MB_ICONSTOP
                          : outOfMemory ? MB_ICONEXCLAMATION | MB_SYSTEMMODAL
                                        : MB_ICONEXCLAMATION),
         "wrong icon for: " + message.text);
    rule(message.owned == message.dialogOpen, "wrong owner for: " + message.text);
    const bool outputMayWait = message.text.size() > kPartCannotOpen.size() &&
                               message.text.compare(message.text.size() - kPartCannotOpen.size(),
                                                    kPartCannotOpen.size(), kPartCannotOpen) == 0;
    rule(!message.outputNew,
         "the output's name holds something new while this waits: " + message.text);
    rule(message.openHandles <= (outputMayWait ? 1 : 0),
         "a file is open while this waits: " + message.text);
    const bool staysOpen =
        message.dialogOpen && i + 1 < g_screen.log.size() && g_screen.log[i + 1] == "user";
    if (staysOpen) {
      rule(fileError || outOfMemory || message.text == kHelpFailed,
           "the dialog stayed open after: " + message.text);
    } else {
      rule(!message.dialogOpen || !(fileError || outOfMemory),
           "the dialog closed after: " + message.text);
      ++closing;
    }
  }
  const int cause = faults::Cause(fault);
  rule(nth == 0 || cause == 0 ||
           std::any_of(g_screen.messages.begin(), g_screen.messages.end(),
                       [cause](const Message& m) { return IsFileErrorText(m.text, cause); }),
       "the error is not reported with its own text");
  const int expected = named || g_screen.cancelled ? 0 : 1;
  rule(closing == expected,
       std::to_string(closing) + " closing messages where " + std::to_string(expected) + " belong");
  return broken;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fault_matrix FOLDER\n");
    return 2;
  }
  faults::Install();
  const fs::path folder = fs::absolute(argv[1]) / "run";
  matrix::Tally tally([](const std::string& line) { std::printf("FAIL %s\n", line.c_str()); });
  std::set<int> struck;
  for (const Scenario& scenario : kScenarios) {
    tally.Judge(std::string(scenario.name) + ", no fault", *RunOnce(folder, scenario, 0, 0));
    for (int fault = 0; fault < faults::Count(); ++fault) {
      for (int nth = 1;; ++nth) {
        const std::optional<std::vector<std::string>> broken =
            RunOnce(folder, scenario, fault, nth);
        if (!broken) break;
        struck.insert(fault);
        tally.Judge(
            std::string(scenario.name) + ", " + faults::Name(fault) + " #" + std::to_string(nth),
            *broken);
      }
    }
  }
  // A row that never struck is a call the backend no longer makes.
  for (int fault = 0; fault < faults::Count(); ++fault) {
    if (struck.count(fault) == 0) tally.Judge(faults::Name(fault), {"the call was never made"});
  }
  Clear(folder);
  tally.Print("windows fault matrix");
  return tally.violations() == 0 ? 0 : 1;
}
