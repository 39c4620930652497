// Files as the logic sees them: opening answers with a flag and never
// throws; every other operation on an open file throws CFileException when
// the system fails. Every open is exclusive: while one opener holds a file,
// no other opener, in this process or another, can open it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

class CFileException {
 public:
  enum Cause {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };

  explicit CFileException(int cause, long osError = -1, std::string fileName = {})
      : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

  // The cause's text with %1 replaced by the file name, or by the framework's
  // word for an untitled file when no name is known.
  std::string GetErrorMessage() const;

  int m_cause;
  long m_lOsError;
  std::string m_strFileName;
};

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeCreate = 0x1000,
  };
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

  CFile() = default;
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  // Closes an open file; a failure to close is ignored here, as nothing could
  // be done about it while the stack unwinds.
  ~CFile();

  // modeRead: read access, the file must exist. modeCreate | modeWrite: write
  // access, the file is created or truncated. A name without a folder is
  // relative to the current folder. Only regular files open.
  BOOL Open(const std::string& fileName, UINT openFlags);

  UINT Read(void* buffer, UINT count);
  // Writes all of count bytes; a write that the system completes only in part
  // throws diskFull naming this file's path.
  void Write(const void* buffer, UINT count);
  std::uint64_t Seek(std::int64_t offset, UINT from);
  std::uint64_t GetLength();
  // Releases the handle and forgets the path, then throws if the system
  // failed to close it.
  void Close();
  // Closes without throwing.
  void Abort();

  bool IsOpen() const { return m_hFile != kNoHandle; }
  // The file's absolute path as error reports show it; empty when closed.
  std::string GetFilePath() const;

 protected:
  friend UINT CopyBlock(CFile& from, CFile& to, void* buffer, UINT count);

  static constexpr std::intptr_t kNoHandle = -1;

  std::intptr_t m_hFile = kNoHandle;  // the backend's handle
  std::string m_strFileName;          // the name opened, as the backend keeps it for reports
};

// Moves count bytes from the position of one open file to the position of
// another, each position advancing by what was moved, and returns how many
// bytes that was: fewer only when the source ended first. The backend picks
// the way, inside the system where it can, through buffer (count bytes)
// where it cannot. Errors are those of CFile::Read on from and CFile::Write
// on to, so a read error names no file and a full disk names to's path.
UINT CopyBlock(CFile& from, CFile& to, void* buffer, UINT count);

// A new file that takes its name only once it is whole. Until Commit it has
// no name under which anyone could open or start it, and a run that ends
// before then, however it ends, leaves nothing under the name.
class CNewFile : public CFile {
 public:
  CNewFile() = default;
  // Drops the file unless it was committed.
  ~CNewFile();

  // Creates the file for writing, held exclusively. FALSE, without throwing,
  // when the name is taken or nothing can be created in its folder. Error
  // reports name the file by the name it will take.
  BOOL Create(const std::string& fileName);
  // Writes the file through to the disk and gives it its name, which must
  // still be free: FALSE when something took the name meanwhile. Throws
  // CFileException, naming the file, when the system fails, the flush
  // included. Either way the file is dropped unless it took the name, and a
  // name once given holds the whole file, also after a power cut.
  BOOL Commit();
  // Closes the file and drops what was written, without throwing.
  void Discard();
  // The file is to carry, once committed, the least trusted of the marks
  // of origin (the system's note that a file came from the internet) found
  // on the files given: what it is made of must not lose the warning that
  // comes with them. Nothing where the system keeps no such marks.
  void TakeOriginMark(const std::string& sourceFile);
  // What else a backend knows of a new file (where it lies until it takes
  // its name, the marks it is to carry) it keeps by the file's handle.
};
