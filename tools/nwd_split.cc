// nwd_split: cuts any file into a part set that the joiner accepts, for
// demonstrations, tests and benchmarks. Damaged sets are made from sound
// ones with the shell (delete, truncate or overwrite a part).
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <iconv.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "join/div_header.h"

namespace {

constexpr int kExitIoError = 1;
constexpr int kExitUsage = 2;

// Without options the file is cut in three, the size of the typical set.
constexpr std::int64_t kDefaultPartCount = 3;

// The header's text fields hold at most this many bytes before their NUL.
constexpr std::size_t kMaxFieldText = 63;

const char kUsage[] =
    "Usage: nwd_split [options] INPUT [OUTDIR]\n"
    "Cuts INPUT into the part files NWD4_322.001, NWD4_322.002, ... in OUTDIR\n"
    "(default: the current folder, created with its parents when missing),\n"
    "each a 156-byte division header followed by a slice of INPUT. Prints one\n"
    "line saying what it wrote.\n"
    "\n"
    "A folder that already holds part files (NWD4_322. and digits, in any case)\n"
    "is refused, so that no part of an older set is left beside the new one;\n"
    "--replace removes them first.\n"
    "\n"
    "Options:\n"
    "  --parts N              cut into N parts of nearly equal size (default 3);\n"
    "                         an empty INPUT gives N parts with empty payloads\n"
    "  --part-size BYTES      payload bytes per part, the last part takes the\n"
    "                         rest; suffixes K (1024) and M (1048576) allowed;\n"
    "                         an empty INPUT gives one part\n"
    "  --output-name NAME     name of the file the joiner writes (default: the\n"
    "                         base name of INPUT); UTF-8, stored as Shift-JIS,\n"
    "                         at most 63 bytes in that encoding\n"
    "  --description TEXT     free text for the headers, same rules (default empty)\n"
    "  --replace              remove the part files already in OUTDIR first\n"
    "  -h, --help             show this text\n"
    "\n"
    "INPUT must be smaller than 2 GiB. Exit status: 0 done, 1 file error,\n"
    "2 usage error. On failure no part file written by this run remains.\n";

struct Options {
  std::string input;
  std::string outDir = ".";
  std::int64_t partCount = 0;  // 0: not given
  std::int64_t partSize = 0;   // 0: not given
  bool haveOutputName = false;
  std::string outputName;
  std::string description;
  bool replace = false;
};

// Thrown for the one-line complaints; status tells which kind.
struct Failure {
  int status;
  std::string message;
};

[[noreturn]] void Fail(int status, const std::string& message) { throw Failure{status, message}; }

std::string SystemError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// A whole decimal number, optionally followed by K or M.
bool ParseCount(const char* text, bool allowSuffix, std::int64_t& value) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text, &end, 10);
  if (errno != 0 || number > 0x7FFFFFFFULL) return false;
  std::int64_t factor = 1;
  if (allowSuffix && (*end == 'K' || *end == 'k')) {
    factor = 1024;
    ++end;
  } else if (allowSuffix && (*end == 'M' || *end == 'm')) {
    factor = 1024 * 1024;
    ++end;
  }
  if (*end != '\0') return false;
  value = static_cast<std::int64_t>(number) * factor;
  return true;
}

// The Shift-JIS bytes of a UTF-8 text, converted by name so that the
// process's locale never matters. FALSE when the text is not UTF-8 or holds a
// character that code page 932 lacks.
bool EncodeCodePage932(const std::string& utf8, std::string& bytes) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char* outPtr = &out[0];
  std::size_t outLeft = out.size();
  const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  // A text ending inside a character is only reported by the final flush.
  const std::size_t flushed = result == static_cast<std::size_t>(-1)
                                  ? result
                                  : iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
  iconv_close(cd);
  if (flushed == static_cast<std::size_t>(-1) || inLeft != 0) return false;
  out.resize(out.size() - outLeft);
  bytes = std::move(out);
  return true;
}

// Encodes a text for one of the header's 64-byte fields.
void EncodeField(const char* what, const std::string& utf8, char (&field)[64]) {
  std::string bytes;
  if (!EncodeCodePage932(utf8, bytes)) {
    Fail(kExitUsage,
         std::string(what) + " \"" + utf8 + "\" cannot be written in Shift-JIS (code page 932)");
  }
  if (bytes.size() > kMaxFieldText) {
    Fail(kExitUsage, std::string(what) + " \"" + utf8 + "\" takes " + std::to_string(bytes.size()) +
                         " bytes in Shift-JIS; at most " + std::to_string(kMaxFieldText) + " fit");
  }
  if (bytes.find('\0') != std::string::npos) {
    Fail(kExitUsage, std::string(what) + " must not contain a NUL character");
  }
  std::memset(field, 0, sizeof field);
  std::memcpy(field, bytes.data(), bytes.size());
}

std::string BaseName(const std::string& path) {
  std::string::size_type end = path.find_last_not_of('/');
  if (end == std::string::npos) return path.empty() ? path : "/";
  const std::string::size_type slash = path.rfind('/', end);
  return path.substr(slash == std::string::npos ? 0 : slash + 1,
                     slash == std::string::npos ? end + 1 : end - slash);
}

Options ParseArguments(int argc, char** argv) {
  enum { kParts = 1000, kPartSize, kOutputName, kDescription, kReplace };
  static const option kLongOptions[] = {
      {"parts", required_argument, nullptr, kParts},
      {"part-size", required_argument, nullptr, kPartSize},
      {"output-name", required_argument, nullptr, kOutputName},
      {"description", required_argument, nullptr, kDescription},
      {"replace", no_argument, nullptr, kReplace},
      {"help", no_argument, nullptr, 'h'},
      {nullptr, 0, nullptr, 0},
  };
  Options options;
  opterr = 0;
  for (;;) {
    const int c = getopt_long(argc, argv, ":h", kLongOptions, nullptr);
    if (c == -1) break;
    switch (c) {
      case 'h':
        std::fputs(kUsage, stdout);
        std::exit(0);
      case kParts:
        if (!ParseCount(optarg, false, options.partCount) || options.partCount < 1 ||
            options.partCount > MAX_PART_COUNT) {
          Fail(kExitUsage, std::string("--parts wants a number from 1 to ") +
                               std::to_string(MAX_PART_COUNT) + ", not \"" + optarg + "\"");
        }
        break;
      case kPartSize:
        if (!ParseCount(optarg, true, options.partSize) || options.partSize < 1) {
          Fail(kExitUsage, std::string("--part-size wants a positive byte count (K and M "
                                       "allowed), not \"") +
                               optarg + "\"");
        }
        break;
      case kOutputName:
        options.haveOutputName = true;
        options.outputName = optarg;
        break;
      case kDescription:
        options.description = optarg;
        break;
      case kReplace:
        options.replace = true;
        break;
      case ':':
        Fail(kExitUsage, std::string(argv[optind - 1]) + " wants a value (see --help)");
      default:
        // A short option is named by optopt, since it may sit inside a
        // cluster; a long one is the word just consumed.
        Fail(kExitUsage, "unknown option " +
                             (optopt != 0 ? std::string("-") + static_cast<char>(optopt)
                                          : std::string(argv[optind - 1])) +
                             " (see --help)");
    }
  }
  if (options.partCount != 0 && options.partSize != 0) {
    Fail(kExitUsage, "give --parts or --part-size, not both");
  }
  const int rest = argc - optind;
  if (rest < 1 || rest > 2) Fail(kExitUsage, "want INPUT and at most one OUTDIR (see --help)");
  options.input = argv[optind];
  if (rest == 2) options.outDir = argv[optind + 1];
  if (options.partCount == 0 && options.partSize == 0) options.partCount = kDefaultPartCount;
  return options;
}

// The payload sizes of the parts, in order.
std::vector<std::int64_t> PlanPayloads(const Options& options, std::int64_t totalSize) {
  std::vector<std::int64_t> sizes;
  if (options.partCount != 0) {
    // The first (total mod count) parts carry one byte more than the rest.
    const std::int64_t base = totalSize / options.partCount;
    const std::int64_t extra = totalSize % options.partCount;
    for (std::int64_t i = 0; i < options.partCount; ++i)
      sizes.push_back(base + (i < extra ? 1 : 0));
    return sizes;
  }
  const std::int64_t count =
      totalSize == 0 ? 1 : (totalSize + options.partSize - 1) / options.partSize;
  if (count > MAX_PART_COUNT) {
    Fail(kExitUsage, "--part-size " + std::to_string(options.partSize) + " would make " +
                         std::to_string(count) + " parts; at most " +
                         std::to_string(MAX_PART_COUNT) + " are allowed");
  }
  for (std::int64_t left = totalSize; sizes.empty() || left > 0; left -= options.partSize) {
    sizes.push_back(left < options.partSize ? left : options.partSize);
  }
  return sizes;
}

// A name the joiner could take for a part: the prefix, in any case since a
// Windows file system matches names so, then nothing but digits.
bool IsPartName(const std::string& name) {
  const std::size_t prefix = std::strlen(PART_NAME_PREFIX);
  return name.size() > prefix && ::strncasecmp(name.c_str(), PART_NAME_PREFIX, prefix) == 0 &&
         name.find_first_not_of("0123456789", prefix) == std::string::npos;
}

// Creates the folder with its parents when missing. Returns the part files
// it already holds (regular files, also behind a link), sorted by name.
std::vector<std::string> PrepareFolder(const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(folder, error);
  if (error) Fail(kExitIoError, "cannot create folder " + folder + ": " + error.message());
  if (!fs::is_directory(folder, error)) Fail(kExitIoError, folder + " is not a folder");

  std::vector<std::string> parts;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code statError;
    if (IsPartName(it->path().filename().string()) && it->is_regular_file(statError)) {
      parts.push_back(folder + "/" + it->path().filename().string());
    }
  }
  if (error) Fail(kExitIoError, "cannot list folder " + folder + ": " + error.message());
  std::sort(parts.begin(), parts.end());
  return parts;
}

// The part files' sizes, header included, as runs of equal ones in order:
// "2 of 1000 bytes and 1 of 999 bytes". Both ways of planning make at most two.
std::string DescribePartSizes(const std::vector<std::int64_t>& payloads) {
  std::string text;
  for (std::size_t i = 0, next = 0; i < payloads.size(); i = next) {
    while (next < payloads.size() && payloads[next] == payloads[i]) ++next;
    if (!text.empty()) text += " and ";
    text += std::to_string(next - i) + " of " + std::to_string(payloads[i] + PART_HEADER_SIZE) +
            " bytes";
  }
  return text;
}

void WriteAll(int fd, const void* data, std::size_t size, const std::string& path) {
  const auto* p = static_cast<const unsigned char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, p, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(kExitIoError, SystemError("cannot write", path));
    }
    p += written;
    size -= static_cast<std::size_t>(written);
  }
}

// Fills the buffer with exactly size bytes of the input.
void ReadExactly(int fd, unsigned char* buffer, std::size_t size, const std::string& path) {
  while (size > 0) {
    const ssize_t got = ::read(fd, buffer, size);
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail(kExitIoError, SystemError("cannot read", path));
    }
    if (got == 0) Fail(kExitIoError, path + " became shorter while it was being cut");
    buffer += got;
    size -= static_cast<std::size_t>(got);
  }
}

// The part files this run has created so far, removed again unless the set
// is finished.
class PartSetWriter {
 public:
  ~PartSetWriter() {
    if (m_fd >= 0) ::close(m_fd);
    if (!m_done) {
      for (const std::string& path : m_written) ::unlink(path.c_str());
    }
  }

  int Create(const std::string& path) {
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) Fail(kExitIoError, SystemError("cannot create", path));
    m_written.push_back(path);
    return m_fd;
  }

  void Close(const std::string& path) {
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) Fail(kExitIoError, SystemError("cannot close", path));
  }

  void Finish() { m_done = true; }

 private:
  std::vector<std::string> m_written;
  int m_fd = -1;
  bool m_done = false;
};

class InputFile {
 public:
  explicit InputFile(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (m_fd < 0) Fail(kExitIoError, SystemError("cannot open", path));
  }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile() { ::close(m_fd); }
  int fd() const { return m_fd; }

 private:
  int m_fd;
};

void Split(const Options& options) {
  DIVHEADER header{};
  std::memcpy(header.szSignature, DIV_SIGNATURE, std::strlen(DIV_SIGNATURE));
  const std::string outputName =
      options.haveOutputName ? options.outputName : BaseName(options.input);
  EncodeField("output name", outputName, header.szOutputName);
  EncodeField("description", options.description, header.szDescription);

  const InputFile input(options.input);
  struct stat inputStat;
  if (::fstat(input.fd(), &inputStat) != 0)
    Fail(kExitIoError, SystemError("cannot measure", options.input));
  if (!S_ISREG(inputStat.st_mode)) Fail(kExitIoError, options.input + " is not a regular file");
  // The header's total is a signed 32-bit number.
  if (inputStat.st_size > 0x7FFFFFFF) {
    Fail(kExitIoError, options.input + " holds " + std::to_string(inputStat.st_size) +
                           " bytes; a part set describes less than 2 GiB");
  }
  const std::int64_t totalSize = inputStat.st_size;
  const std::vector<std::int64_t> payloads = PlanPayloads(options, totalSize);

  const std::vector<std::string> oldParts = PrepareFolder(options.outDir);
  for (const std::string& path : oldParts) {
    // Truncating or removing a part that is the input itself would destroy it.
    std::error_code error;
    if (std::filesystem::equivalent(path, options.input, error)) {
      Fail(kExitUsage,
           options.input + " is itself a part file in " + options.outDir + "; cut a copy of it");
    }
  }
  if (!oldParts.empty() && !options.replace) {
    Fail(kExitUsage, options.outDir + " already holds " + std::to_string(oldParts.size()) +
                         " part file(s), " + BaseName(oldParts.front()) +
                         " first; --replace removes them before the new set is written");
  }
  for (const std::string& path : oldParts) {
    if (::unlink(path.c_str()) != 0) Fail(kExitIoError, SystemError("cannot remove", path));
  }

  std::vector<std::string> paths;
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    paths.push_back(options.outDir + "/" + PartFileName(static_cast<int>(i + 1)));
  }

  header.nTotalSize = static_cast<std::int32_t>(totalSize);
  header.nPartCount = static_cast<std::int32_t>(payloads.size());
  std::vector<unsigned char> buffer(COPY_BUFFER_SIZE);
  PartSetWriter writer;
  for (std::size_t i = 0; i < payloads.size(); ++i) {
    const std::string& path = paths[i];
    const int fd = writer.Create(path);
    header.nPartNumber = static_cast<std::int32_t>(i + 1);
    unsigned char bytes[PART_HEADER_SIZE];
    FormatDivHeader(header, bytes);
    WriteAll(fd, bytes, sizeof bytes, path);
    for (std::int64_t left = payloads[i]; left > 0;) {
      const std::size_t block =
          static_cast<std::size_t>(left < COPY_BUFFER_SIZE ? left : COPY_BUFFER_SIZE);
      ReadExactly(input.fd(), buffer.data(), block, options.input);
      WriteAll(fd, buffer.data(), block, path);
      left -= static_cast<std::int64_t>(block);
    }
    writer.Close(path);
  }
  writer.Finish();

  std::string report = "nwd_split: wrote " + std::to_string(paths.size()) + " part" +
                       (paths.size() == 1 ? " (" : "s (") + BaseName(paths.front()) +
                       (paths.size() == 1 ? "" : " to " + BaseName(paths.back())) + ") in " +
                       options.outDir + ": " + DescribePartSizes(payloads) + "; they join into " +
                       outputName + " of " + std::to_string(totalSize) + " bytes";
  if (!oldParts.empty()) report += "; " + std::to_string(oldParts.size()) + " old part(s) removed";
  std::puts(report.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Split(ParseArguments(argc, argv));
  } catch (const Failure& failure) {
    std::fprintf(stderr, "nwd_split: %s\n", failure.message.c_str());
    return failure.status;
  }
  return 0;
}
