// A scripted, in-memory platform for tests: a working folder of files, a
// user who answers the dialog from a script, injectable faults, and an
// ordered log of everything the program asked of the platform.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/types.h"

class CWnd;

namespace fake {

// Every operation a run asks of the platform that can fail.
enum class Op {
  CurrentFolder,
  Open,
  Read,
  Write,
  Seek,
  GetLength,
  Close,
  Create,
  Commit,
  Delete,
  GetFileId,
  Alloc,
};
// Their names, in the same order, for reports.
constexpr const char* kOpNames[] = {"current folder", "open",   "read",    "write",
                                    "seek",           "length", "close",   "create",
                                    "commit",         "delete", "file id", "alloc"};

// Ways a call can fail besides throwing a CFileException cause (1 to 14):
// an operation that answers with a flag or a null buffer says no; a read
// delivers half of what it could and a write takes half and throws diskFull,
// as on a full disk; or the call runs out of memory.
constexpr int kRefused = -1;
constexpr int kShort = -2;
constexpr int kNoMemory = -3;

// What the scripted user does while the dialog is open.
enum class UserAction { Execute, Cancel, Escape, CloseButton, F1, Paint };

struct File {
  std::vector<unsigned char> data;
  bool heldByOther = false;  // another program has it open
  bool readOnly = false;     // can be neither replaced nor deleted
  // Length reported beyond the bytes held, for files too large to hold in a
  // test; reading stops at the bytes held.
  std::uint64_t extraLength = 0;

  bool operator==(const File& other) const {
    return data == other.data && heldByOther == other.heldByOther && readOnly == other.readOnly &&
           extraLength == other.extraLength;
  }
};

struct Message {
  std::string text;
  std::string caption;
  UINT type;
  CWnd* owner;
  std::vector<std::string> openFiles;  // bare names open while it waited
  bool underProgress;                  // the progress window was still up
};

class Platform {
 public:
  // The newest Platform is the one the program talks to while it lives.
  Platform();
  ~Platform();
  Platform(const Platform&) = delete;
  Platform& operator=(const Platform&) = delete;
  static Platform& Current();

  // --- the world ---
  std::string folder = "C:\\SETUP";  // the current folder as the system gives it
  bool folderReadable = true;
  UINT driveType = DRIVE_FIXED;
  std::string programPath = "C:\\SETUP\\NWD4_322.exe";
  std::map<std::string, File> files;  // by bare name, in the working folder
  // Names that lead to another file: a symbolic or hard link, a short name.
  std::map<std::string, std::string> links;
  // Those of the links that are short (8.3) names of the file they lead to.
  std::set<std::string> shortNames;
  // New files that have no name yet, by the name they are to take.
  std::map<std::string, File> unnamed;
  // The files whose marks of origin the new files were given, in order.
  std::vector<std::string> originSources;

  void AddFile(const std::string& name, std::vector<unsigned char> data);
  const std::vector<unsigned char>& Data(const std::string& name) const;
  bool Exists(const std::string& name) const { return files.count(name) != 0; }

  // --- the user ---
  std::deque<UserAction> script;
  bool dialogCanBeShown = true;
  bool iconic = false;
  CRect clientRect{0, 0, 160, 40};
  bool helpViewerStarts = false;

  // --- the progress window ---
  // The clock in milliseconds; every reading moves it on by clockStep.
  std::uint64_t clock = 0;
  std::uint64_t clockStep = 0;
  bool progressCanBeShown = true;
  // The user stops the join while the window handles its nth update
  // (counting from 1), as with its Cancel button; 0: never.
  int cancelAtUpdate = 0;
  int progressUpdates = 0;
  bool progressShown = false;  // the window is on screen

  // --- faults ---
  // The nth call (counting from 1) of op on the named file fails with the
  // cause; name "" matches any call of op.
  void FailOn(Op op, const std::string& name, int cause, int nth = 1);
  // How many of those faults a call has met so far.
  int FaultsMet() const;
  // The size of the log when a fault was last met.
  std::size_t faultMetAt = 0;
  // Bytes the disk still takes; a write beyond it completes only in part.
  std::int64_t freeSpace = INT64_MAX;
  // Runs once, just before the nth open of the named file: lets a test
  // change the folder at an exact moment.
  void OnOpen(const std::string& name, int nth, std::function<void()> action);

  // --- what happened ---
  std::vector<std::string> log;
  std::vector<Message> messages;
  std::vector<std::string> Events(const std::string& prefix) const;

  // --- for the backend functions ---
  struct Handle {
    std::string name;
    std::uint64_t position = 0;
    bool write = false;
    bool unnamed = false;  // a new file still waiting for its name
  };
  std::map<std::intptr_t, Handle> handles;
  std::intptr_t nextHandle = 1;
  std::string BareName(const std::string& path) const;
  // The file a bare name leads to, through links.
  std::string Resolve(const std::string& bareName) const;
  File& FileOf(const Handle& handle);
  std::string FullPath(const std::string& bareName) const;
  // Throws for a cause or kNoMemory; returns kRefused, kShort or 0 for the
  // operation to act on.
  int MaybeFail(Op op, const std::string& name);
  std::vector<std::string> OpenFileNames() const;
  void RunOpenHooks(const std::string& name);

 private:
  struct Fault {
    Op op;
    std::string name;
    int cause;
    int nth;
    int seen;
  };
  struct OpenHook {
    std::string name;
    int nth;
    int seen;
    std::function<void()> action;
  };
  std::vector<Fault> faults_;
  std::vector<OpenHook> openHooks_;
  Platform* previous_;
};

}  // namespace fake
