// The file manager's way in: given the first part of a set, changes into the
// folder that holds it and starts the program there, as a user would from a
// terminal. The path reaches no shell; from here on the program's own
// messages say what is wrong with the folder.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kProgramName = "NWD4_322";

// The folder part of a path: "." for a bare name, "/" for a file at the root.
std::string FolderOf(const std::string& path) {
  const std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The program lies beside this launcher, wherever the two were installed.
std::string ProgramPath() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return kProgramName;
  const std::string self(buffer.data(), static_cast<std::size_t>(length));
  return FolderOf(self) + "/" + kProgramName;
}

void Report(const std::string& text) {
  const std::string line = "nwd4_322-open: " + text + "\n";
  if (::write(STDERR_FILENO, line.data(), line.size()) < 0) return;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    Report("usage: nwd4_322-open FILE (the first part of a set)");
    return 2;
  }
  const std::string folder = FolderOf(argv[1]);
  // A folder that cannot be entered must not leave the program where the
  // file manager happened to be, which may hold another set: the root holds
  // none, and the program says that it found no part.
  if (::chdir(folder.c_str()) != 0) {
    Report("cannot change into " + folder + ": " + std::strerror(errno));
    if (::chdir("/") != 0) return 1;
  }
  const std::string program = ProgramPath();
  char* const arguments[] = {const_cast<char*>(kProgramName), nullptr};
  ::execv(program.c_str(), arguments);
  Report("cannot start " + program + ": " + std::strerror(errno));
  return 127;
}
