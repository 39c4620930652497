#include "join/div_header.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/test_util.h"

namespace {

DIVHEADER WithSignature(const unsigned char (&signature)[16]) {
  DIVHEADER header = testutil::Header(1, 1, 0);
  std::memcpy(header.szSignature, signature, 16);
  return header;
}

TEST(DivHeader, FieldsAreLittleEndianAtTheirOffsets) {
  unsigned char bytes[PART_HEADER_SIZE] = {};
  std::memcpy(bytes, "DIVINFO", 8);
  std::memcpy(bytes + 80, "A.EXE", 6);
  const unsigned char total[] = {0x0A, 0x00, 0x20, 0x00};
  const unsigned char number[] = {0x02, 0x00, 0x00, 0x00};
  const unsigned char count[] = {0xFF, 0xFF, 0xFF, 0xFF};
  std::memcpy(bytes + 144, total, 4);
  std::memcpy(bytes + 148, number, 4);
  std::memcpy(bytes + 152, count, 4);
  const DIVHEADER header = ParseDivHeader(bytes);
  EXPECT_EQ(header.nTotalSize, 0x0020000A);
  EXPECT_EQ(header.nPartNumber, 2);
  EXPECT_EQ(header.nPartCount, -1);
  EXPECT_STREQ(header.szOutputName, "A.EXE");

  unsigned char again[PART_HEADER_SIZE];
  FormatDivHeader(header, again);
  EXPECT_EQ(0, std::memcmp(bytes, again, PART_HEADER_SIZE));
}

TEST(DivHeader, SignatureEndsAtNulOrAtLeadByteBeforeNul) {
  EXPECT_TRUE(
      HasDivSignature(WithSignature({'D', 'I', 'V', 'I', 'N', 'F', 'O', 0, 'x', 'y', 0xFF})));
  // Lead bytes are 0x81 to 0x9F and 0xE0 to 0xFC; the bytes around them are
  // single-byte characters.
  const unsigned char leads[] = {0x81, 0x9F, 0xE0, 0xFC};
  for (const unsigned char lead : leads) {
    EXPECT_TRUE(HasDivSignature(WithSignature({'D', 'I', 'V', 'I', 'N', 'F', 'O', lead, 0})))
        << +lead;
  }
  const unsigned char singles[] = {0x80, 0xA0, 0xDF, 0xFD};
  for (const unsigned char single : singles) {
    EXPECT_FALSE(HasDivSignature(WithSignature({'D', 'I', 'V', 'I', 'N', 'F', 'O', single, 0})))
        << +single;
  }
  EXPECT_FALSE(HasDivSignature(WithSignature({'D', 'I', 'V', 'I', 'N', 'F', 'O', 'X', 0})));
  // A lead byte with a trail byte is a whole character: the text goes on.
  EXPECT_FALSE(HasDivSignature(WithSignature({'D', 'I', 'V', 'I', 'N', 'F', 'O', 0x81, 0x40, 0})));
  EXPECT_FALSE(HasDivSignature(WithSignature({'D', 'I', 'V', 'I', 'N', 'F', 0})));
  EXPECT_FALSE(HasDivSignature(WithSignature({'d', 'I', 'V', 'I', 'N', 'F', 'O', 0})));
}

TEST(DivHeader, PartNamesHaveAtLeastThreeDigits) {
  EXPECT_EQ(PartFileName(1), "NWD4_322.001");
  EXPECT_EQ(PartFileName(7), "NWD4_322.007");
  EXPECT_EQ(PartFileName(999), "NWD4_322.999");
  EXPECT_EQ(PartFileName(1234), "NWD4_322.1234");
}

}  // namespace
