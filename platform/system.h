// System services the logic calls besides files: the working folder and its
// drive, deleting a file, the copy buffer, launching a program and decoding
// the part headers' multi-byte text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/types.h"

// The separator the backend's paths use between folder and file name.
extern const char kFolderSeparator;

// The process's current folder. Returns FALSE when it cannot be read.
BOOL GetCurrentFolder(std::string& folder);

// The drive type (DRIVE_FIXED, DRIVE_REMOVABLE, ...) of the storage that
// holds the given folder.
UINT GetFolderDriveType(const std::string& folder);

// Deletes a file; the result tells whether it is gone, and its name free
// then, also where someone holds it open but lets it be deleted. A file
// that someone holds without that leave, or that is read-only, stays.
BOOL DeleteFile(const std::string& fileName);

// What tells one file from another, whatever name reaches it: a link, a
// second name, a short name, another spelling.
struct CFileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  // The upper half of a 128-bit index, where the file system has one.
  std::uint64_t indexHigh = 0;
  bool operator==(const CFileId& other) const {
    return volume == other.volume && index == other.index && indexHigh == other.indexHigh;
  }
};
// The identity of the file that a name reaches; FALSE when it reaches none.
BOOL GetFileId(const std::string& fileName, CFileId& id);

// TRUE when the name reaches an existing file only as that file's short
// (8.3) name, the file's own name being another.
BOOL IsShortNameOfOtherFile(const std::string& fileName);

// The program file's full path.
std::string GetProgramPath();
// The program file's name without its folder, for example "NWD4_322.exe".
std::string GetProgramFileName();

// Starts the file at the given full path in a normal window, without waiting.
// Whether it started is not reported: nothing could follow from it. Where
// the system says nothing when a file cannot be started, the backend says it.
void LaunchFile(const std::string& fullPath);

// Decodes Shift-JIS (code page 932) bytes to UTF-8, whatever the system's
// locale. Returns FALSE for a byte sequence that is not valid in that code
// page.
BOOL DecodeCodePage932(const char* bytes, std::size_t length, std::string& utf8);

// One block of zero-filled memory, held for the lifetime of the object.
// data() is null when the memory could not be had.
class CGlobalBuffer {
 public:
  explicit CGlobalBuffer(std::size_t size);
  CGlobalBuffer(const CGlobalBuffer&) = delete;
  CGlobalBuffer& operator=(const CGlobalBuffer&) = delete;
  ~CGlobalBuffer();

  unsigned char* data() const { return m_pData; }
  std::size_t size() const { return m_nSize; }

 private:
  unsigned char* m_pData = nullptr;
  std::size_t m_nSize = 0;
  // A backend whose blocks have a handle besides their data keeps it itself.
};
