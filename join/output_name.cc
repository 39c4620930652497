#include "join/output_name.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/system.h"

namespace {

std::string ToUpperAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Windows ignores trailing dots and spaces and letter case in file names, so
// two names that differ only there are one file.
std::string Canonical(const std::string& name) {
  std::string::size_type end = name.find_last_not_of(". ");
  return ToUpperAscii(end == std::string::npos ? std::string() : name.substr(0, end + 1));
}

bool IsReservedDeviceName(const std::string& canonical) {
  std::string base = canonical.substr(0, canonical.find('.'));
  base.erase(base.find_last_not_of(' ') + 1);
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
         base[3] >= '1' && base[3] <= '9';
}

// A name of the form the set's parts have, for any part number.
bool IsPartFileName(const std::string& canonical) {
  const std::string prefix = PART_NAME_PREFIX;
  if (canonical.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string digits = canonical.substr(prefix.size());
  if (digits.size() < 3 || digits.size() > 10) return false;
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  const long long number = std::stoll(digits);
  return number >= 1 && number <= 0x7FFFFFFF && PartFileName(static_cast<int>(number)) == canonical;
}

bool IsBareFileName(const std::string& name) {
  if (name.find_first_of("/\\:") != std::string::npos) return false;
  if (std::any_of(name.begin(), name.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
    return false;
  }
  return name != "." && name != "..";
}

}  // namespace

BOOL DecodeOutputName(const DIVHEADER& header, const std::string& programFileName,
                      std::string& outputName) {
  const char* end =
      static_cast<const char*>(std::memchr(header.szOutputName, '\0', sizeof header.szOutputName));
  if (!end) return FALSE;
  std::string name;
  if (!DecodeCodePage932(header.szOutputName, static_cast<std::size_t>(end - header.szOutputName),
                         name)) {
    return FALSE;
  }
  if (!name.empty()) {
    const std::string canonical = Canonical(name);
    if (!IsBareFileName(name) || canonical.empty() || IsReservedDeviceName(canonical) ||
        IsPartFileName(canonical) || canonical == Canonical(programFileName)) {
      return FALSE;
    }
  }
  outputName = name;
  return TRUE;
}
