// The division header at the start of every part file, the part files'
// names and the constants shared by start-up, verification, joiner and the
// tool that cuts part sets. Bytes and names only: no file is read here.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

constexpr UINT PART_HEADER_SIZE = 156;
constexpr UINT COPY_BUFFER_SIZE = 0x100000;

constexpr const char* FIRST_PART_NAME = "NWD4_322.001";
constexpr const char* PART_NAME_PREFIX = "NWD4_322.";
constexpr const char* DIV_SIGNATURE = "DIVINFO";

// The largest part count a first header may announce. A set's payload is
// below 2 GiB, so this many parts are already under 22 KiB each; a header
// beyond it is damaged, and one press never tries millions of names.
constexpr std::int32_t MAX_PART_COUNT = 99999;

// The header's fields as stored: text fields are raw Shift-JIS bytes,
// numbers little-endian 32-bit signed.
struct DIVHEADER {
  char szSignature[16];
  char szDescription[64];
  char szOutputName[64];
  std::int32_t nTotalSize;
  std::int32_t nPartNumber;
  std::int32_t nPartCount;
};

// Fills a header from its 156 stored bytes.
DIVHEADER ParseDivHeader(const unsigned char (&bytes)[PART_HEADER_SIZE]);
// The 156 bytes a header is stored as.
void FormatDivHeader(const DIVHEADER& header, unsigned char (&bytes)[PART_HEADER_SIZE]);

// The signature, taken as a multi-byte string in which a lead byte followed
// by NUL ends the text, equals "DIVINFO".
bool HasDivSignature(const DIVHEADER& header);

// "NWD4_322." followed by the number with at least three digits.
std::string PartFileName(int partNumber);
