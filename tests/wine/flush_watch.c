// flush_watch: preloaded into the Wine server by run_wine_tests.sh, it notes
// every flush of a file below NWD_FLUSH_WATCH in NWD_FLUSH_LOG, under the
// name the file has at that moment, and with NWD_FLUSH_FAIL set to anything
// but nothing makes those flushes fail as a failing disk does (EIO).
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int Watched(int fd) {
  const char* folder = getenv("NWD_FLUSH_WATCH");
  const char* log = getenv("NWD_FLUSH_LOG");
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof path - 1);
  if (!folder || !log || length < 0) return 0;
  path[length] = '\0';
  if (strncmp(path, folder, strlen(folder)) != 0) return 0;
  FILE* out = fopen(log, "a");
  if (out) {
    fprintf(out, "flush %s\n", path + strlen(folder));
    fclose(out);
  }
  return 1;
}

static int Flush(int fd, const char* name) {
  const char* failing = getenv("NWD_FLUSH_FAIL");
  if (Watched(fd) && failing && *failing) {
    errno = EIO;
    return -1;
  }
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, name);
  return real(fd);
}

int fsync(int fd) { return Flush(fd, "fsync"); }
int fdatasync(int fd) { return Flush(fd, "fdatasync"); }
