#include "platform/posix/display_posix.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Whether an X server takes connections on the local socket of the display
// number, under its abstract name or its path in the file system.
bool LocalServerListens(int number) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  for (const std::size_t offset : {std::size_t{1}, std::size_t{0}}) {
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    if (offset + path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path + offset, path.data(), path.size());
    // The abstract name is the bytes after a NUL, without a terminator.
    const auto length =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset + path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    ::close(fd);
    if (connected) return true;
  }
  return false;
}

}  // namespace

namespace posix {

std::string DescribeUnopenedDisplay() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (!x || !*x) {
    if (wayland && *wayland) {
      return "cannot show the dialog on Wayland display " + Quoted(wayland) +
             ": the connection failed, and DISPLAY is not set";
    }
    return "no display to show the dialog on: DISPLAY is not set";
  }
  const std::string on = "cannot show the dialog on display " + Quoted(x) + ": ";
  char* host = nullptr;
  int number = 0;
  int screen = 0;
  if (!xcb_parse_display(x, &host, &number, &screen)) return on + "not a display name";
  const bool local = !*host || std::strcmp(host, "unix") == 0;
  std::free(host);
  if (!local) return on + "no X server answers there, or it refused the connection";
  if (!LocalServerListens(number)) return on + "no X server runs there";
  return on + "its X server refused the connection";
}

}  // namespace posix
