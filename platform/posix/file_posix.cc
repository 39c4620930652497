// Files over POSIX descriptors.
//
// The system has no share modes, so exclusive opening is built from one
// advisory lock taken the same way by every opener: flock(LOCK_EX) on the
// descriptor. It works on read-only descriptors, so two readers conflict as
// well as a reader and a writer, and it belongs to the open file description,
// so two opens within this process conflict just like two processes do.
// Programs that take no lock are not stopped; nothing on this system could.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file.h"
#include "platform/system.h"

namespace {

// Never wait on whatever sits behind a name: a FIFO would block the open
// until a writer comes. Descriptors never leak into launched programs, where
// they would keep the lock alive.
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

int CauseOf(int error) {
  switch (error) {
    case ENOENT:
    case EBADF:
      return CFileException::fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case EXDEV:
      return CFileException::badPath;
    case EMFILE:
    case ENFILE:
      return CFileException::tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EEXIST:
    case EISDIR:
    case EBUSY:
    case ETXTBSY:
      return CFileException::accessDenied;
    case ESPIPE:
      return CFileException::badSeek;
    case EIO:
    case ENXIO:
    case ENODEV:
      return CFileException::hardIO;
    case EAGAIN:
      return CFileException::sharingViolation;
    case ENOLCK:
      return CFileException::lockViolation;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return CFileException::diskFull;
    default:
      return CFileException::genericException;
  }
}

bool IsOutOfSpace(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

[[noreturn]] void ThrowErrno(int error, const std::string& fileName = {}) {
  throw CFileException(CauseOf(error), error, fileName);
}

std::string AbsolutePath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  std::string folder;
  if (!GetCurrentFolder(folder)) return name;
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder + name;
}

bool LockExclusive(int fd) {
  int result;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// A descriptor of the regular file at path, locked for this opener alone, or
// -1. Nothing is changed on disk unless the lock was had.
int OpenExclusive(const char* path, int access, bool create) {
  // Devices are refused before they are opened at all: opening some of them
  // has effects of its own. The check after the open is the one that counts.
  struct stat st;
  if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) return -1;

  int fd;
  do {
    // A file is never created or emptied through a link: it could point at a
    // part, or anywhere outside the working folder.
    fd = ::open(path, access | kOpenFlags | (create ? O_CREAT | O_NOFOLLOW : 0), 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;

  // Truncation waits for the lock: O_TRUNC would empty a file that another
  // opener holds before the lock could refuse us. A new file is not
  // truncated at all: on ext4 that would force its data to disk at close.
  const bool usable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && LockExclusive(fd) &&
                      (!create || st.st_size == 0 || ::ftruncate(fd, 0) == 0);
  const int flags = usable ? ::fcntl(fd, F_GETFL) : -1;
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

CFile::~CFile() { Abort(); }

BOOL CFile::Open(const std::string& fileName, UINT openFlags) {
  Abort();
  const bool write = (openFlags & modeWrite) != 0;
  const bool create = (openFlags & modeCreate) != 0;
  const int fd = OpenExclusive(fileName.c_str(), write ? O_WRONLY : O_RDONLY, create);
  if (fd < 0) return FALSE;
  m_hFile = fd;
  m_strFileName = AbsolutePath(fileName);
  return TRUE;
}

UINT CFile::Read(void* buffer, UINT count) {
  // Only the end of the file may cut a read short, as the callers take a
  // short read for exactly that.
  char* out = static_cast<char*>(buffer);
  UINT done = 0;
  while (done < count) {
    const ssize_t got = ::read(static_cast<int>(m_hFile), out + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno);
    }
    if (got == 0) break;
    done += static_cast<UINT>(got);
  }
  return done;
}

void CFile::Write(const void* buffer, UINT count) {
  const char* in = static_cast<const char*>(buffer);
  UINT done = 0;
  while (done < count) {
    const ssize_t put = ::write(static_cast<int>(m_hFile), in + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    // The system tells why a write stopped short only on the next call; a
    // full disk, quota or size limit is the part-completed write.
    if (put == 0 || (put < 0 && IsOutOfSpace(errno))) {
      throw CFileException(CFileException::diskFull, -1, m_strFileName);
    }
    if (put < 0) ThrowErrno(errno, m_strFileName);
    done += static_cast<UINT>(put);
  }
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from) {
  if (from > end) throw CFileException(CFileException::badSeek, EINVAL);
  const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
  const off_t position = ::lseek(static_cast<int>(m_hFile), static_cast<off_t>(offset), whence);
  if (position < 0) {
    // A target before the start of the file.
    if (errno == EINVAL) throw CFileException(CFileException::badSeek, EINVAL);
    ThrowErrno(errno);
  }
  return static_cast<std::uint64_t>(position);
}

std::uint64_t CFile::GetLength() {
  struct stat st;
  if (::fstat(static_cast<int>(m_hFile), &st) != 0) ThrowErrno(errno);
  return static_cast<std::uint64_t>(st.st_size);
}

void CFile::Close() {
  if (m_hFile == kNoHandle) return;
  const int fd = static_cast<int>(m_hFile);
  m_hFile = kNoHandle;
  m_strFileName.clear();
  // After EINTR the descriptor is gone all the same on this system; trying
  // again could close one that another thread has just been given.
  if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}

void CFile::Abort() {
  if (m_hFile == kNoHandle) return;
  ::close(static_cast<int>(m_hFile));
  m_hFile = kNoHandle;
  m_strFileName.clear();
}

BOOL DeleteFile(const std::string& fileName) {
  const char* path = fileName.c_str();
  struct stat st;
  if (::lstat(path, &st) != 0 || S_ISDIR(st.st_mode)) return FALSE;
  // A file that an opener holds stays, as an open file does where deleting
  // needs every opener's consent. The lock is kept until the name is gone,
  // so nobody can open the file between the test and the unlink.
  int fd = -1;
  if (S_ISREG(st.st_mode)) {
    fd = ::open(path, O_RDONLY | kOpenFlags);
    if (fd >= 0 && !LockExclusive(fd)) {
      ::close(fd);
      return FALSE;
    }
  }
  const bool deleted = ::unlink(path) == 0;
  if (fd >= 0) ::close(fd);
  return deleted ? TRUE : FALSE;
}
