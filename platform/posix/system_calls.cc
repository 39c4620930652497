// The system's own calls, as the table starts out.
#include "platform/posix/system_calls.h"

#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace posix {

SystemCalls sys = {
    [](const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    ::close,
    ::read,
    ::write,
    ::lseek,
    [](int fd, struct stat* st) { return ::fstat(fd, st); },
    [](const char* path, struct stat* st) { return ::stat(path, st); },
    [](const char* path, struct stat* st) { return ::lstat(path, st); },
    ::flock,
    [](int fd, int command, int argument) { return ::fcntl(fd, command, argument); },
    ::ftruncate,
    ::fdatasync,
    ::faccessat,
    ::access,
    ::unlink,
    ::link,
    ::linkat,
    ::renameat2,
    [](const char* path, char* buffer, std::size_t size) { return ::readlink(path, buffer, size); },
    [](const char* path, char* resolved) { return ::realpath(path, resolved); },
    [](char* buffer, std::size_t size) { return ::getcwd(buffer, size); },
    ::pipe2,
    ::splice,
    [](const char* path, struct statfs* fs) { return ::statfs(path, fs); },
    ::opendir,
    ::readdir,
    ::closedir,
    ::getpid,
    ::sigaction,
    ::sigprocmask,
    ::nanosleep,
    ::fork,
    ::setsid,
    ::dup2,
    [](unsigned first, unsigned last, int flags) { return ::close_range(first, last, flags); },
    ::closefrom,
    ::execv,
    ::waitpid,
    [](std::size_t count, std::size_t size) { return std::calloc(count, size); },
};

}  // namespace posix
