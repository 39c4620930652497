// The system calls of the Windows backend, declared with standard types only.
// The framework's headers keep the system's own names (BOOL, DWORD, IDOK,
// HICON, DeleteFile, SendMessage, GetSystemMetrics) with types of their own,
// so they and <windows.h> cannot meet in one file: the half of the backend
// that implements the framework calls through here, and only the files that
// define these functions include the system's header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace win32 {

// --- text: the program keeps UTF-8, the system takes UTF-16 ---

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
// Decodes bytes of a code page to UTF-8; false for a sequence that is not
// valid in it. The system's own code page plays no part.
bool DecodeCodePage(unsigned codePage, const char* bytes, std::size_t length, std::string& utf8);

// --- the process ---

// Keeps the system's error boxes away and DLLs to the system folder.
void PrepareProcess();
std::string ModulePath();
bool CurrentDirectory(std::string& folder);
// The system's drive type for a root path such as "C:\".
unsigned DriveType(const std::string& root);
bool RemoveFile(const std::string& path);
// Starts a file in a normal window with the given folder as its current one.
void Launch(const std::string& fullPath, const std::string& folder);

// --- files: a handle, or kNoFile; failures answer the system's error code ---

constexpr std::intptr_t kNoFile = -1;

// Opens a disk file that nobody else may open while it is held; write
// creates or truncates it. Fills fullPath with the absolute name.
std::intptr_t FileOpen(const std::string& path, bool write, std::string& fullPath);
// The calls below answer 0 or the system's error code.
// Reads until count bytes came or the file ended.
unsigned long FileRead(std::intptr_t file, void* buffer, std::uint32_t count, std::uint32_t& got);
unsigned long FileWrite(std::intptr_t file, const void* buffer, std::uint32_t count,
                        std::uint32_t& written);
// from: 0 start, 1 current position, 2 end.
unsigned long FileSeek(std::intptr_t file, std::int64_t offset, unsigned from,
                       std::uint64_t& position);
unsigned long FileSize(std::intptr_t file, std::uint64_t& size);
unsigned long FileClose(std::intptr_t file);

// The volume and index that tell one file from another, for whatever name
// reaches it (a link, a short name, another case). The index has 128 bits
// where the file system gives them; indexHigh is 0 where it does not.
bool FileIdentity(const std::string& path, std::uint64_t& volume, std::uint64_t& index,
                  std::uint64_t& indexHigh);
// A new file, held alone, beside the free name it is to take; the system
// deletes it when its handle closes unless NewFileCommit named it first.
// kNoFile when the name is taken or nothing can be created there. Fills
// fullPath with the absolute name it is to take.
std::intptr_t NewFileCreate(const std::string& name, std::string& fullPath);
// Gives the new file its name, which must still be free, and closes it: 0,
// or the system's error code, and the file is gone then.
unsigned long NewFileCommit(std::intptr_t file, const std::string& fullPath);
// The error NewFileCommit answers when something took the name meanwhile.
bool IsNameTaken(unsigned long error);

// --- what only real Windows shows: marks, mounted folders, caches, holders ---

// The security zone that a file's Zone.Identifier stream (the mark of the
// web) names, 3 for the internet, or kNoZone for a file without one.
constexpr int kNoZone = -1;
int ZoneOf(const std::string& path);
// Writes a Zone.Identifier stream naming the zone onto the file at path: 0,
// or the system's error code.
unsigned long WriteZone(const std::string& path, int zone);
// Makes the new file whole on the disk before NewFileCommit names it: its
// mark (unless kNoZone, or its volume has no streams) and its data written
// through the caches. 0, or the system's error code; the file is then left
// to go with its handle.
unsigned long NewFileSeal(std::intptr_t file, const std::string& fullPath, int zone);
// The drive type of the volume that really holds a folder, through junctions,
// links and mounted folders; DRIVE_REMOTE when that is a network share.
unsigned FolderVolumeType(const std::string& folder);

// The file exception cause (CFileException::Cause) for a system error code.
enum FileErrorCause : int {
  kGenericError = 1,
  kFileNotFound = 2,
  kBadPath = 3,
  kTooManyOpenFiles = 4,
  kAccessDenied = 5,
  kInvalidFile = 6,
  kRemoveCurrentDir = 7,
  kDirectoryFull = 8,
  kBadSeek = 9,
  kHardIO = 10,
  kSharingViolation = 11,
  kLockViolation = 12,
  kDiskFull = 13,
  kEndOfFile = 14,
};
FileErrorCause FileErrorCauseOf(unsigned long error);

// --- memory: one moveable, zero-filled global block ---

// The block's address, or null; block receives the handle to free.
unsigned char* AllocateZeroed(std::size_t size, void*& block);
void Free(void* block);

// --- windows ---

// The dialog's handlers, called from its dialog procedure. None may throw:
// an exception must not cross the system's frames.
class DialogHandlers {
 public:
  // The window exists; true lets the system focus the first tab stop.
  virtual bool OnInit(void* window) noexcept = 0;
  // A command, or F1 without Shift, Ctrl or Alt. Either answers true with
  // the result once the dialog has been ended.
  virtual bool OnCommand(unsigned id, int& result) noexcept = 0;
  virtual bool OnHelpKey(int& result) noexcept = 0;
  virtual void OnPaint() noexcept = 0;
  virtual void* OnQueryDragIcon() noexcept = 0;

 protected:
  ~DialogHandlers() = default;
};

// Shows the dialog built from the program's template without an owner,
// centred in the primary monitor's work area unless its initialisation
// moved it. The result it was ended with, or -1 when it cannot be made.
std::intptr_t RunModalDialog(unsigned templateId, DialogHandlers& handlers);

struct Rect {
  int left, top, right, bottom;
};

bool IsMinimised(void* window);
void SetWindowIcon(void* window, void* icon, bool big);
Rect ClientRect(void* window);
std::intptr_t Send(void* window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
// Returns the device context; state receives what EndPainting needs.
std::uintptr_t BeginPainting(void* window, void*& state);
void EndPainting(void* window, void* state);
void DrawIconAt(std::uintptr_t dc, int x, int y, void* icon);
int SystemMetric(int index);
// One of the program's icon resources at the system's icon size, or null.
void* LoadProgramIcon(unsigned id);
int ShowMessage(void* owner, const std::string& text, const std::string& caption, unsigned type);
// Opens a help file at a context number; false if the viewer cannot start.
bool StartHelp(const std::string& helpFile, unsigned long context);

// --- what real Windows does and Wine does not: names past 260 characters,
// short (8.3) names, the help stub of newer systems, the dialog's font ---

// The name that file calls take for an absolute one: with the prefix that
// lifts the 260-character limit.
std::wstring ExtendedPath(const std::wstring& fullPath);
// True when the name reaches an existing file only as that file's short
// name: the file's own name is another.
bool IsShortNameOfOtherFile(const std::string& path);
// False when the help viewer that WinHelp would start is the system's stub,
// which can only say that it shows no help.
bool HelpViewerWorks();
// The face the dialog is drawn in for a template's face: the template's own
// where the system knows it, its other name where only that is known, and
// the system's dialog face otherwise.
std::wstring DialogFace(const std::wstring& templateFace);

}  // namespace win32
