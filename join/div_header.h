// The division header at the start of every part file, the part files'
// names and the constants shared by start-up, verification and joiner.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

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

// Reads the header at the start of an open part. TRUE when all 156 bytes
// came and the signature is right; the other fields are not judged here.
BOOL ReadDivHeader(CFile& part, DIVHEADER& header);

// "NWD4_322." followed by the number with at least three digits.
std::string PartFileName(int partNumber);

// The output name as UTF-8, when the header's bytes make one that is safe to
// create in the working folder: NUL-terminated within its field, valid
// Shift-JIS, and a bare file name that is not a device, a part of a set, or
// the program itself. An empty name passes (the joiner reports it).
BOOL DecodeOutputName(const DIVHEADER& header, const std::string& programFileName,
                      std::string& outputName);
