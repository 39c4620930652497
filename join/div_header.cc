#include "join/div_header.h"

#include <cstdio>
#include <cstring>

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

std::string PartFileName(int partNumber) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%03d", partNumber);
  return PART_NAME_PREFIX + std::string(digits);
}
