// Files over POSIX descriptors.
//
// The system has no share modes, so exclusive opening is built from one
// advisory lock taken the same way by every opener: flock(LOCK_EX) on the
// descriptor. It works on read-only descriptors, so two readers conflict as
// well as a reader and a writer, and it belongs to the open file description,
// so two opens within this process conflict just like two processes do.
// Programs that take no lock are not stopped; nothing on this system could.
#include "platform/posix/file_posix.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "platform/file.h"
#include "platform/posix/system_calls.h"
#include "platform/system.h"

namespace posix {

int FileErrorCause(int error) {
  switch (error) {
    case ENOENT:
    case EBADF:
    case ESTALE:
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
    // Media, network mounts and the daemons behind cloud mounts that are gone.
    case ENOMEDIUM:
    case ENOTCONN:
    case ENOLINK:
    case EREMOTEIO:
    case ETIMEDOUT:
    case EHOSTDOWN:
    case ECONNABORTED:
    case ECONNRESET:
    case ECANCELED:
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

}  // namespace posix

using posix::sys;

namespace {

// Never wait on whatever sits behind a name: a FIFO would block the open
// until a writer comes. Descriptors never leak into launched programs, where
// they would keep the lock alive.
constexpr int kOpenFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;

bool IsOutOfSpace(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

[[noreturn]] void ThrowErrno(int error, const std::string& fileName = {}) {
  throw CFileException(posix::FileErrorCause(error), error, fileName);
}

// The text with every byte that is not part of well-formed UTF-8 shown as
// U+FFFD, the replacement character. The C library's converter judges what
// is well-formed.
std::string ValidUtf8(const std::string& text) {
  iconv_t cd = ::iconv_open("UTF-8", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return text;
  std::string shown;
  char* in = const_cast<char*>(text.data());
  std::size_t inLeft = text.size();
  while (inLeft > 0) {
    char chunk[256];
    char* out = chunk;
    std::size_t outLeft = sizeof chunk;
    const std::size_t result = ::iconv(cd, &in, &inLeft, &out, &outLeft);
    shown.append(chunk, sizeof chunk - outLeft);
    if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
      shown += "\xEF\xBF\xBD";
      ++in;
      --inLeft;
    }
  }
  ::iconv_close(cd);
  return shown;
}

// The path as error reports show it. A folder name need not be UTF-8 (an
// archive made on another system), and a message must never come out blank
// for it: bytes that are no text show as replacement characters.
std::string DisplayPath(const std::string& name) {
  std::string path = name;
  if (path.empty() || path[0] != '/') {
    std::string folder;
    if (GetCurrentFolder(folder)) {
      if (folder.empty() || folder.back() != '/') folder += '/';
      path = folder + name;
    }
  }
  return ValidUtf8(path);
}

// An open that a signal interrupted is tried again: a slow file system (a
// network one, FUSE) may be interrupted in any open.
int OpenAgainAfterSignals(const char* path, int flags, mode_t mode) {
  int fd;
  do {
    fd = sys.open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool LockExclusive(int fd) {
  int result;
  do {
    result = sys.flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

// A file that another program holds is mostly let go within a moment (a
// backup agent, a sync client, a second copy of this program verifying):
// the lock is tried again for up to a second before the file counts as held.
// Once one file has stayed held that long, whatever holds it likely holds
// the others too: they count as held at once, so that a set held as a whole
// costs one wait, not one a part.
bool g_patienceSpent = false;

bool LockOnceLetGo(int fd) {
  constexpr int kPatienceMs = 1000;
  constexpr int kPollMs = 50;
  for (int waited = 0;; waited += kPollMs) {
    if (LockExclusive(fd)) return true;
    if (errno != EWOULDBLOCK) return false;
    if (g_patienceSpent || waited >= kPatienceMs) {
      g_patienceSpent = true;
      return false;
    }
    const struct timespec poll = {0, kPollMs * 1000000L};
    sys.nanosleep(&poll, nullptr);
  }
}

// A descriptor of the regular file at path, locked for this opener alone, or
// -1. Nothing is changed on disk unless the lock was had.
int OpenExclusive(const char* path, int access, bool create) {
  // Devices are refused before they are opened at all: opening some of them
  // has effects of its own. The check after the open is the one that counts.
  struct stat st;
  if (sys.stat(path, &st) == 0 && !S_ISREG(st.st_mode)) return -1;

  // A file is never created or emptied through a link: it could point at a
  // part, or anywhere outside the working folder.
  const int fd =
      OpenAgainAfterSignals(path, access | kOpenFlags | (create ? O_CREAT | O_NOFOLLOW : 0), 0666);
  if (fd < 0) return -1;

  // Truncation waits for the lock: O_TRUNC would empty a file that another
  // opener holds before the lock could refuse us. A new file is not
  // truncated at all: on ext4 that would force its data to disk at close.
  // O_NONBLOCK is the only status flag the open set, so clearing them all
  // takes it away without asking first.
  const bool usable = sys.fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && LockOnceLetGo(fd) &&
                      (!create || st.st_size == 0 || sys.ftruncate(fd, 0) == 0);
  if (!usable || sys.fcntl(fd, F_SETFL, 0) != 0) {
    sys.close(fd);
    return -1;
  }
  return fd;
}

// Cleared once the kernel has refused to move blocks between files here:
// every later block then travels through the buffer.
bool g_copyInKernel = true;

// splice's answers where the kernel, a file system or a sandbox cannot move
// data between these files at all.
bool KernelCannotCopy(int error) {
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == EPERM;
}

// The pipe that blocks pass through inside the kernel, made on first use and
// kept for the run. Splicing a part into it takes references to the part's
// cached pages, not copies; splicing it into the output copies them once. As
// large as the largest block (1 MiB) where the system allows, so that a
// block goes in and out in one call each: copy_file_range's own pipe is 64
// KiB, and with a payload that starts off a page boundary that made the copy
// a third slower than this.
constexpr int kPipeSize = 1 << 20;
int g_pipe[2] = {-1, -1};

bool HavePipe() {
  if (g_pipe[0] >= 0) return true;
  if (sys.pipe2(g_pipe, O_CLOEXEC) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return false;
  }
  sys.fcntl(g_pipe[1], F_SETPIPE_SZ, kPipeSize);
  return true;
}

}  // namespace

BOOL CFile::Open(const std::string& fileName, UINT openFlags) {
  Abort();
  const bool write = (openFlags & modeWrite) != 0;
  const bool create = (openFlags & modeCreate) != 0;
  const int fd = OpenExclusive(fileName.c_str(), write ? O_WRONLY : O_RDONLY, create);
  if (fd < 0) return FALSE;
  m_hFile = fd;
  // The path for reports is made only when one is needed: a verification
  // opens thousands of parts and reports on none of them.
  m_strFileName = fileName;
  return TRUE;
}

std::string CFile::GetFilePath() const {
  return m_strFileName.empty() ? std::string() : DisplayPath(m_strFileName);
}

UINT CFile::Read(void* buffer, UINT count) {
  // Only the end of the file may cut a read short, as the callers take a
  // short read for exactly that.
  char* out = static_cast<char*>(buffer);
  UINT done = 0;
  while (done < count) {
    const ssize_t got = sys.read(static_cast<int>(m_hFile), out + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowErrno(errno, GetFilePath());
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
    const ssize_t put = sys.write(static_cast<int>(m_hFile), in + done, count - done);
    if (put < 0 && errno == EINTR) continue;
    // The system tells why a write stopped short only on the next call; a
    // full disk, quota or size limit is the part-completed write.
    if (put == 0 || (put < 0 && IsOutOfSpace(errno))) {
      throw CFileException(CFileException::diskFull, -1, GetFilePath());
    }
    if (put < 0) ThrowErrno(errno, GetFilePath());
    done += static_cast<UINT>(put);
  }
}

UINT CopyBlock(CFile& from, CFile& to, void* buffer, UINT count) {
  const int in = static_cast<int>(from.m_hFile);
  const int out = static_cast<int>(to.m_hFile);
  UINT done = 0;
  while (g_copyInKernel && done < count && HavePipe()) {
    const ssize_t got = sys.splice(in, nullptr, g_pipe[1], nullptr, count - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0 && KernelCannotCopy(errno)) g_copyInKernel = false;
      // The end of the part, a file system that claims one, or a read
      // error: the buffer moves the rest, and raises a read error as a
      // read does.
      break;
    }
    // The bytes have left the part: they reach the output one way or the
    // other, and the pipe is empty again before anything else happens.
    std::size_t left = static_cast<std::size_t>(got);
    while (left > 0) {
      const ssize_t put = sys.splice(g_pipe[0], nullptr, out, nullptr, left, 0);
      if (put > 0) {
        left -= static_cast<std::size_t>(put);
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && KernelCannotCopy(errno)) g_copyInKernel = false;
      // The output refused them: they go through the buffer, so that a
      // write error is raised as a write raises it.
      ssize_t back;
      do {
        back = sys.read(g_pipe[0], buffer, left);
      } while (back < 0 && errno == EINTR);
      if (back < 0) ThrowErrno(errno);
      to.Write(buffer, static_cast<UINT>(back));
      left -= static_cast<std::size_t>(back);
    }
    done += static_cast<UINT>(got);
  }
  if (done < count) {
    const UINT got = from.Read(buffer, count - done);
    to.Write(buffer, got);
    done += got;
  }
  return done;
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from) {
  if (from > end) throw CFileException(CFileException::badSeek, EINVAL);
  const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
  const off_t position = sys.lseek(static_cast<int>(m_hFile), static_cast<off_t>(offset), whence);
  if (position < 0) {
    // A target before the start of the file.
    if (errno == EINVAL) throw CFileException(CFileException::badSeek, EINVAL);
    ThrowErrno(errno);
  }
  return static_cast<std::uint64_t>(position);
}

std::uint64_t CFile::GetLength() {
  struct stat st;
  if (sys.fstat(static_cast<int>(m_hFile), &st) != 0) ThrowErrno(errno);
  return static_cast<std::uint64_t>(st.st_size);
}

void CFile::Close() {
  if (m_hFile == kNoHandle) return;
  const int fd = static_cast<int>(m_hFile);
  m_hFile = kNoHandle;
  m_strFileName.clear();
  // After EINTR the descriptor is gone all the same on this system; trying
  // again could close one that another thread has just been given.
  if (sys.close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}

BOOL DeleteFile(const std::string& fileName) {
  const char* path = fileName.c_str();
  struct stat st;
  if (sys.lstat(path, &st) != 0 || S_ISDIR(st.st_mode)) return FALSE;
  // A file nobody may write is read-only, and read-only files are kept, as
  // where the system has that attribute. Root may write anything, so the
  // permission bits decide for it.
  if (S_ISREG(st.st_mode) &&
      ((st.st_mode & 0222) == 0 || sys.faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0)) {
    return FALSE;
  }
  // A file that an opener holds stays, as an open file does where deleting
  // needs every opener's consent. The lock is kept until the name is gone,
  // so nobody can open the file between the test and the unlink.
  int fd = -1;
  if (S_ISREG(st.st_mode)) {
    fd = OpenAgainAfterSignals(path, O_RDONLY | kOpenFlags, 0);
    if (fd >= 0 && !LockExclusive(fd)) {
      sys.close(fd);
      return FALSE;
    }
  }
  const bool deleted = sys.unlink(path) == 0;
  if (fd >= 0) sys.close(fd);
  return deleted ? TRUE : FALSE;
}

// No file here has a second, short name.
BOOL IsShortNameOfOtherFile(const std::string&) { return FALSE; }

BOOL GetFileId(const std::string& fileName, CFileId& id) {
  struct stat st;
  if (sys.stat(fileName.c_str(), &st) != 0) return FALSE;
  id = CFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return TRUE;
}

// --- new files ---
//
// Where the file system allows it, a new file is made without a name
// (O_TMPFILE) and linked in under its name once complete: a run that ends
// any way before then, power loss and SIGKILL included, leaves nothing. Where
// it does not (FAT, some FUSE file systems), the file is written under a
// temporary name that no launcher takes for a program and renamed at the
// end; a signal that ends the run removes it, and only SIGKILL or a power
// loss can leave it behind.

namespace {

bool g_namedTemporaries = false;

// The temporary name of each new file that has one, by its descriptor:
// only this backend's new files ever have one.
std::map<int, std::string> g_temporaryNames;

std::string TemporaryNameOf(std::intptr_t fd) {
  const auto found = g_temporaryNames.find(static_cast<int>(fd));
  return found == g_temporaryNames.end() ? std::string() : found->second;
}

constexpr int kEndingSignals[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// The temporary that a signal ending the run removes, relative to the
// current folder, which follows the folder if it is moved.
char g_pendingName[PATH_MAX];
volatile sig_atomic_t g_havePending = 0;
struct sigaction g_previousActions[sizeof kEndingSignals / sizeof kEndingSignals[0]];

void RemovePendingAndEnd(int signal) {
  if (g_havePending) sys.unlink(g_pendingName);
  // The default action, now that nothing is left to clean.
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void RemoveOnEndingSignal(const std::string& name) {
  if (name.size() >= sizeof g_pendingName) return;
  std::memcpy(g_pendingName, name.c_str(), name.size() + 1);
  g_havePending = 1;
  struct sigaction action = {};
  action.sa_handler = RemovePendingAndEnd;
  sigfillset(&action.sa_mask);
  for (std::size_t i = 0; i < sizeof kEndingSignals / sizeof kEndingSignals[0]; ++i) {
    sys.sigaction(kEndingSignals[i], nullptr, &g_previousActions[i]);
    // A signal the process was told to ignore (nohup) stays ignored.
    if (g_previousActions[i].sa_handler != SIG_IGN) {
      sys.sigaction(kEndingSignals[i], &action, nullptr);
    }
  }
}

void StopRemovingOnEndingSignal() {
  if (!g_havePending) return;
  for (std::size_t i = 0; i < sizeof kEndingSignals / sizeof kEndingSignals[0]; ++i) {
    sys.sigaction(kEndingSignals[i], &g_previousActions[i], nullptr);
  }
  g_havePending = 0;
}

std::string FolderOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A file system without unnamed files answers one of these.
bool NoUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// Writes the file's data through to the disk: without it the name can reach
// the disk before the data, and a power cut leave a damaged installer under
// it. A file system that cannot flush at all says so, and passes.
bool FlushData(int fd, int& error) {
  int result;
  do {
    result = sys.fdatasync(fd);
  } while (result != 0 && errno == EINTR);
  error = result == 0 || errno == EINVAL || errno == ENOTSUP ? 0 : errno;
  return error == 0;
}

// Gives the file at from the name to, which must be free.
bool RenameNoReplace(const char* from, const char* to, int& error) {
  if (sys.renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) {
    error = errno;
    return false;
  }
  // Without an exclusive rename, a new link is exclusive too.
  if (sys.link(from, to) != 0) {
    error = errno;
    return false;
  }
  sys.unlink(from);
  return true;
}

}  // namespace

namespace posix {
void UseNamedTemporaries(bool named) { g_namedTemporaries = named; }
void UseKernelCopy(bool kernel) {
  g_copyInKernel = kernel;
  if (g_pipe[0] < 0) return;
  sys.close(g_pipe[0]);
  sys.close(g_pipe[1]);
  g_pipe[0] = g_pipe[1] = -1;
}
}  // namespace posix

BOOL CNewFile::Create(const std::string& fileName) {
  Discard();
  struct stat st;
  if (fileName.empty() || sys.lstat(fileName.c_str(), &st) == 0 || errno != ENOENT) return FALSE;

  int fd = g_namedTemporaries ? -1
                              : OpenAgainAfterSignals(FolderOf(fileName).c_str(),
                                                      O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  std::string temporary;
  if (fd < 0 && (g_namedTemporaries || NoUnnamedFiles(errno))) {
    temporary = fileName + "." + std::to_string(sys.getpid()) + ".incomplete";
    fd = OpenAgainAfterSignals(
        temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd >= 0) RemoveOnEndingSignal(temporary);
  }
  if (fd < 0) return FALSE;
  // Whatever a descriptor of this number was before, this file is what it
  // names now.
  if (temporary.empty()) {
    g_temporaryNames.erase(fd);
  } else {
    g_temporaryNames[fd] = temporary;
  }
  // Nobody else may open it while it is written, as with every open here.
  if (!LockExclusive(fd)) {
    m_hFile = fd;
    Discard();
    return FALSE;
  }
  m_hFile = fd;
  m_strFileName = fileName;
  return TRUE;
}

BOOL CNewFile::Commit() {
  if (m_hFile == kNoHandle) return FALSE;
  const int fd = static_cast<int>(m_hFile);
  const std::string name = m_strFileName;
  int error = 0;
  if (!FlushData(fd, error)) {
    // Reported as the write that failed to reach the disk would be.
    const std::string shownName = GetFilePath();
    Discard();
    if (IsOutOfSpace(error)) throw CFileException(CFileException::diskFull, -1, shownName);
    ThrowErrno(error, shownName);
  }
  const std::string temporary = TemporaryNameOf(fd);
  bool named;
  if (temporary.empty()) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    named = sys.linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    if (!named) error = errno;
  } else {
    named = RenameNoReplace(temporary.c_str(), name.c_str(), error);
  }
  const std::string shownName = GetFilePath();
  if (!named) {
    Discard();
    if (error == EEXIST) return FALSE;
    ThrowErrno(error, shownName);
  }

  m_hFile = kNoHandle;
  m_strFileName.clear();
  g_temporaryNames.erase(fd);
  StopRemovingOnEndingSignal();
  // A close that fails may have lost written data: the name must not keep it.
  if (sys.close(fd) != 0 && errno != EINTR) {
    error = errno;
    sys.unlink(name.c_str());
    ThrowErrno(error, shownName);
  }
  return TRUE;
}

// Where files carry a mark of origin here (an extended attribute some
// browsers set) nothing checks it before a program runs: there is nothing to
// keep.
void CNewFile::TakeOriginMark(const std::string&) {}

void CNewFile::Discard() {
  if (m_hFile == kNoHandle) return;
  // The temporary goes while it is still held, so nobody opens it between.
  const std::string temporary = TemporaryNameOf(m_hFile);
  if (!temporary.empty()) sys.unlink(temporary.c_str());
  StopRemovingOnEndingSignal();
  g_temporaryNames.erase(static_cast<int>(m_hFile));
  sys.close(static_cast<int>(m_hFile));
  m_hFile = kNoHandle;
  m_strFileName.clear();
}
