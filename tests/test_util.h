// Building blocks for part sets in tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "join/div_header.h"

namespace testutil {

inline DIVHEADER Header(std::int32_t partNumber, std::int32_t partCount, std::int32_t totalSize,
                        const std::string& outputName = "SETUP.EXE") {
  DIVHEADER header{};
  std::memcpy(header.szSignature, "DIVINFO", 8);
  std::memcpy(header.szDescription, "test set", 9);
  std::memcpy(header.szOutputName, outputName.data(), std::min<std::size_t>(outputName.size(), 64));
  header.nTotalSize = totalSize;
  header.nPartNumber = partNumber;
  header.nPartCount = partCount;
  return header;
}

inline std::vector<unsigned char> HeaderBytes(const DIVHEADER& header) {
  unsigned char bytes[PART_HEADER_SIZE];
  FormatDivHeader(header, bytes);
  return std::vector<unsigned char>(bytes, bytes + PART_HEADER_SIZE);
}

// A payload whose bytes tell where they came from.
inline std::vector<unsigned char> Payload(std::size_t size, unsigned seed) {
  std::vector<unsigned char> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<unsigned char>((i * 31 + seed * 7) % 251);
  return bytes;
}

inline std::vector<unsigned char> Part(const DIVHEADER& header,
                                       const std::vector<unsigned char>& payload) {
  std::vector<unsigned char> bytes = HeaderBytes(header);
  bytes.insert(bytes.end(), payload.begin(), payload.end());
  return bytes;
}

// The fault matrices' set: three parts, the last of them empty, by name;
// joined receives their payloads in turn. Parts of more than one block are
// left to other tests: they would make every run slow.
inline std::vector<std::pair<std::string, std::vector<unsigned char>>> SmallSet(
    std::vector<unsigned char>& joined) {
  std::vector<std::pair<std::string, std::vector<unsigned char>>> parts;
  joined.clear();
  for (std::int32_t i = 1; i <= 3; ++i) {
    const std::vector<unsigned char> payload = Payload(i == 1   ? 200
                                                       : i == 2 ? 5
                                                                : 0,
                                                       static_cast<unsigned>(i));
    parts.emplace_back(PartFileName(i), Part(Header(i, 3, 205), payload));
    joined.insert(joined.end(), payload.begin(), payload.end());
  }
  return parts;
}

}  // namespace testutil
