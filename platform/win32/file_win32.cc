// Files over the system's handles, opened with share mode 0.
#include <map>

#include "platform/file.h"
#include "platform/system.h"
#include "platform/win32/win32_api.h"

namespace {

static_assert(win32::kNoFile == -1, "the framework's empty handle is the system's invalid one");
constexpr bool SameCause(win32::FileErrorCause ours, CFileException::Cause theirs) {
  return static_cast<int>(ours) == static_cast<int>(theirs);
}

static_assert(SameCause(win32::kGenericError, CFileException::genericException) &&
                  SameCause(win32::kFileNotFound, CFileException::fileNotFound) &&
                  SameCause(win32::kBadPath, CFileException::badPath) &&
                  SameCause(win32::kTooManyOpenFiles, CFileException::tooManyOpenFiles) &&
                  SameCause(win32::kAccessDenied, CFileException::accessDenied) &&
                  SameCause(win32::kInvalidFile, CFileException::invalidFile) &&
                  SameCause(win32::kRemoveCurrentDir, CFileException::removeCurrentDir) &&
                  SameCause(win32::kDirectoryFull, CFileException::directoryFull) &&
                  SameCause(win32::kBadSeek, CFileException::badSeek) &&
                  SameCause(win32::kHardIO, CFileException::hardIO) &&
                  SameCause(win32::kSharingViolation, CFileException::sharingViolation) &&
                  SameCause(win32::kLockViolation, CFileException::lockViolation) &&
                  SameCause(win32::kDiskFull, CFileException::diskFull) &&
                  SameCause(win32::kEndOfFile, CFileException::endOfFile),
              "the system's error causes are the file exception's");

// The least trusted zone of origin that each new file is to carry, by its
// handle: only this backend's new files carry one.
std::map<std::intptr_t, int> g_originZones;

int OriginZoneOf(std::intptr_t file) {
  const auto found = g_originZones.find(file);
  return found == g_originZones.end() ? win32::kNoZone : found->second;
}

// A system error code of 0 is no error and raises nothing.
void ThrowOsError(unsigned long error, const std::string& fileName = std::string()) {
  if (error == 0) return;
  throw CFileException(win32::FileErrorCauseOf(error), static_cast<long>(error), fileName);
}

}  // namespace

BOOL CFile::Open(const std::string& fileName, UINT openFlags) {
  Abort();
  const bool write = (openFlags & modeWrite) != 0;
  std::string fullPath;
  const std::intptr_t file = win32::FileOpen(fileName, write, fullPath);
  if (file == win32::kNoFile) return FALSE;
  m_hFile = file;
  m_strFileName = fullPath;
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  if (count == 0) return 0;
  std::uint32_t got = 0;
  ThrowOsError(win32::FileRead(m_hFile, buffer, count, got), m_strFileName);
  return got;
}

void CFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;
  std::uint32_t written = 0;
  ThrowOsError(win32::FileWrite(m_hFile, buffer, count, written), m_strFileName);
  if (written < count) throw CFileException(CFileException::diskFull, -1, m_strFileName);
}

// The system has no call that copies a range between two open files on the
// file systems a user joins on: the block goes through the buffer.
UINT CopyBlock(CFile& from, CFile& to, void* buffer, UINT count) {
  const UINT got = from.Read(buffer, count);
  to.Write(buffer, got);
  return got;
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from) {
  std::uint64_t position = 0;
  ThrowOsError(win32::FileSeek(m_hFile, offset, from, position));
  return position;
}

std::uint64_t CFile::GetLength() {
  std::uint64_t size = 0;
  ThrowOsError(win32::FileSize(m_hFile, size));
  return size;
}

std::string CFile::GetFilePath() const { return m_strFileName; }

void CFile::Close() {
  if (m_hFile == kNoHandle) return;
  const std::intptr_t file = m_hFile;
  m_hFile = kNoHandle;
  m_strFileName.clear();
  ThrowOsError(win32::FileClose(file));
}

BOOL CNewFile::Create(const std::string& fileName) {
  Discard();
  std::string fullPath;
  const std::intptr_t file = win32::NewFileCreate(fileName, fullPath);
  if (file == win32::kNoFile) return FALSE;
  // Whatever a handle of this value was before, this file is what it
  // names now.
  g_originZones.erase(file);
  m_hFile = file;
  m_strFileName = fullPath;
  return TRUE;
}

BOOL CNewFile::Commit() {
  if (m_hFile == kNoHandle) return FALSE;
  const std::intptr_t file = m_hFile;
  const std::string fullPath = m_strFileName;
  m_hFile = kNoHandle;
  m_strFileName.clear();
  const int zone = OriginZoneOf(file);
  g_originZones.erase(file);
  const unsigned long sealed = win32::NewFileSeal(file, fullPath, zone);
  if (sealed != 0) {
    win32::FileClose(file);
    ThrowOsError(sealed, fullPath);
  }
  const unsigned long error = win32::NewFileCommit(file, fullPath);
  if (win32::IsNameTaken(error)) return FALSE;
  ThrowOsError(error, fullPath);
  return TRUE;
}

// The file was made to go with its last handle.
void CNewFile::Discard() {
  g_originZones.erase(m_hFile);
  Abort();
}

// A mark taken before Create would be forgotten by it: only an open file
// takes one.
void CNewFile::TakeOriginMark(const std::string& sourceFile) {
  if (m_hFile == kNoHandle) return;
  const int zone = win32::ZoneOf(sourceFile);
  if (zone > OriginZoneOf(m_hFile)) g_originZones[m_hFile] = zone;
}

BOOL IsShortNameOfOtherFile(const std::string& fileName) {
  return win32::IsShortNameOfOtherFile(fileName) ? TRUE : FALSE;
}

BOOL GetFileId(const std::string& fileName, CFileId& id) {
  return win32::FileIdentity(fileName, id.volume, id.index, id.indexHigh) ? TRUE : FALSE;
}
