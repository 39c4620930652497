// Stands in for the desktop's opener in the system fault matrix: appends to
// the file that NWD_OPENER_RECORD names the path it was given, how many
// descriptors above the standard three it inherited, and the bytes that
// the path held when it started.
#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
  const char* record = std::getenv("NWD_OPENER_RECORD");
  if (!record || argc != 2) return 2;
  int inherited = 0;
  if (DIR* fds = ::opendir("/proc/self/fd")) {
    while (const dirent* entry = ::readdir(fds)) {
      const int fd = std::atoi(entry->d_name);
      if (entry->d_name[0] != '.' && fd > 2 && fd != ::dirfd(fds)) ++inherited;
    }
    ::closedir(fds);
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(record, std::ios::binary | std::ios::app)
      << argv[1] << '\0' << inherited << '\0' << bytes.size() << '\0' << bytes;
  return 0;
}
