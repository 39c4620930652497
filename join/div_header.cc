#include "join/div_header.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace {

std::int32_t ReadInt32(const unsigned char* p) {
  const std::uint32_t value = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                              std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
  return static_cast<std::int32_t>(value);
}

void WriteInt32(std::int32_t value, unsigned char* p) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(bits >> (8 * i));
}

bool IsLeadByte(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }

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

DIVHEADER ParseDivHeader(const unsigned char (&bytes)[PART_HEADER_SIZE]) {
  DIVHEADER header;
  std::memcpy(header.szSignature, bytes + 0, sizeof header.szSignature);
  std::memcpy(header.szDescription, bytes + 16, sizeof header.szDescription);
  std::memcpy(header.szOutputName, bytes + 80, sizeof header.szOutputName);
  header.nTotalSize = ReadInt32(bytes + 144);
  header.nPartNumber = ReadInt32(bytes + 148);
  header.nPartCount = ReadInt32(bytes + 152);
  return header;
}

void FormatDivHeader(const DIVHEADER& header, unsigned char (&bytes)[PART_HEADER_SIZE]) {
  std::memcpy(bytes + 0, header.szSignature, sizeof header.szSignature);
  std::memcpy(bytes + 16, header.szDescription, sizeof header.szDescription);
  std::memcpy(bytes + 80, header.szOutputName, sizeof header.szOutputName);
  WriteInt32(header.nTotalSize, bytes + 144);
  WriteInt32(header.nPartNumber, bytes + 148);
  WriteInt32(header.nPartCount, bytes + 152);
}

bool HasDivSignature(const DIVHEADER& header) {
  const auto* text = reinterpret_cast<const unsigned char*>(header.szSignature);
  const std::size_t length = std::strlen(DIV_SIGNATURE);
  if (std::memcmp(text, DIV_SIGNATURE, length) != 0) return false;
  const unsigned char next = text[length];
  return next == 0 || (IsLeadByte(next) && text[length + 1] == 0);
}

BOOL ReadDivHeader(CFile& part, DIVHEADER& header) {
  unsigned char bytes[PART_HEADER_SIZE] = {};
  const UINT read = part.Read(bytes, PART_HEADER_SIZE);
  header = ParseDivHeader(bytes);
  return read == PART_HEADER_SIZE && HasDivSignature(header);
}

std::string PartFileName(int partNumber) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", partNumber);
  return PART_NAME_PREFIX + std::string(digits);
}

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
