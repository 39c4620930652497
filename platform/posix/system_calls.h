// Every call into the system that the POSIX backend makes, through one
// table. The backend calls posix::sys.open(...) where it would call
// ::open(...); a test puts its own function in one slot to make that call
// fail, come short or be counted, and puts the old one back after. The
// table starts out holding the system's own calls.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/types.h>
#include <time.h>

#include <cstddef>

namespace posix {

struct SystemCalls {
  // --- files ---
  int (*open)(const char* path, int flags, mode_t mode);
  int (*close)(int fd);
  ssize_t (*read)(int fd, void* buffer, std::size_t count);
  ssize_t (*write)(int fd, const void* buffer, std::size_t count);
  off_t (*lseek)(int fd, off_t offset, int whence);
  int (*fstat)(int fd, struct stat* st);
  int (*stat)(const char* path, struct stat* st);
  int (*lstat)(const char* path, struct stat* st);
  int (*flock)(int fd, int operation);
  int (*fcntl)(int fd, int command, int argument);
  int (*ftruncate)(int fd, off_t length);
  int (*fdatasync)(int fd);
  int (*faccessat)(int dirFd, const char* path, int mode, int flags);
  int (*access)(const char* path, int mode);
  int (*unlink)(const char* path);
  int (*link)(const char* from, const char* to);
  int (*linkat)(int fromDir, const char* from, int toDir, const char* to, int flags);
  int (*renameat2)(int fromDir, const char* from, int toDir, const char* to, unsigned flags);
  ssize_t (*readlink)(const char* path, char* buffer, std::size_t size);
  char* (*realpath)(const char* path, char* resolved);
  char* (*getcwd)(char* buffer, std::size_t size);
  // --- moving blocks inside the kernel ---
  int (*pipe2)(int fds[2], int flags);
  ssize_t (*splice)(int in, loff_t* inOffset, int out, loff_t* outOffset, std::size_t count,
                    unsigned flags);
  // --- where a folder lies ---
  int (*statfs)(const char* path, struct statfs* fs);
  DIR* (*opendir)(const char* path);
  struct dirent* (*readdir)(DIR* dir);
  int (*closedir)(DIR* dir);
  // --- processes and signals ---
  pid_t (*getpid)();
  int (*sigaction)(int signal, const struct sigaction* action, struct sigaction* previous);
  int (*sigprocmask)(int how, const sigset_t* set, sigset_t* previous);
  int (*nanosleep)(const struct timespec* duration, struct timespec* left);
  pid_t (*fork)();
  pid_t (*setsid)();
  int (*dup2)(int from, int to);
  int (*close_range)(unsigned first, unsigned last, int flags);
  void (*closefrom)(int first);
  int (*execv)(const char* path, char* const argv[]);
  pid_t (*waitpid)(pid_t pid, int* status, int options);
  // --- memory ---
  void* (*calloc)(std::size_t count, std::size_t size);
};

extern SystemCalls sys;

}  // namespace posix
