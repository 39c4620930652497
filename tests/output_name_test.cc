#include "join/output_name.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/test_util.h"

namespace {

class OutputName : public ::testing::Test {
 protected:
  static bool Accepted(const std::string& bytes, std::string* decoded = nullptr) {
    DIVHEADER header = testutil::Header(1, 1, 0);
    std::memset(header.szOutputName, 0, sizeof header.szOutputName);
    std::memcpy(header.szOutputName, bytes.data(), std::min<std::size_t>(bytes.size(), 64));
    std::string name = "unchanged";
    const bool ok = DecodeOutputName(header, "NWD4_322.exe", name);
    if (decoded) *decoded = name;
    return ok;
  }
};

TEST_F(OutputName, ShiftJisIsDecodedToUtf8) {
  std::string name;
  // "ソ" is 0x83 0x5C: its second byte is a backslash, which must not count
  // as a separator.
  ASSERT_TRUE(Accepted("\x83\x5C\x83\x8B\x83\x6C.exe", &name));
  EXPECT_EQ(name, "ソルネ.exe");
  ASSERT_TRUE(Accepted("SETUP.EXE", &name));
  EXPECT_EQ(name, "SETUP.EXE");
  ASSERT_TRUE(Accepted("\xB1\xB2.exe", &name));  // half-width katakana
  EXPECT_EQ(name, "ｱｲ.exe");
}

TEST_F(OutputName, EmptyNameIsKeptForTheJoinerToReport) {
  std::string name;
  EXPECT_TRUE(Accepted("", &name));
  EXPECT_EQ(name, "");
}

TEST_F(OutputName, NameWithoutNulInItsFieldIsRefused) {
  EXPECT_FALSE(Accepted(std::string(64, 'A')));
  EXPECT_TRUE(Accepted(std::string(63, 'A')));
}

TEST_F(OutputName, InvalidShiftJisIsRefused) {
  EXPECT_FALSE(Accepted("\x81"));           // a lead byte cut off by the NUL
  EXPECT_FALSE(Accepted("A\x81\x20.exe"));  // a lead byte before a byte no character has
}

TEST_F(OutputName, AnythingButABareNameOfAnOrdinaryFileIsRefused) {
  const char* const refused[] = {"..\\SETUP.EXE",
                                 "sub/SETUP.EXE",
                                 "C:SETUP.EXE",
                                 "SETUP.EXE:stream",
                                 "\\SETUP.EXE",
                                 ".",
                                 "..",
                                 "...",
                                 "   ",
                                 "CON",
                                 "con",
                                 "PRN.txt",
                                 "AUX",
                                 "NUL.exe",
                                 "nul.",
                                 "COM1",
                                 "com9.exe",
                                 "LPT1",
                                 "lpt9.txt",
                                 "CON .txt",
                                 "NWD4_322.001",
                                 "nwd4_322.002",
                                 "NWD4_322.001.",
                                 "NWD4_322.001 ",
                                 "NWD4_322.1234",
                                 "NWD4_322.exe",
                                 "nwd4_322.EXE",
                                 "TAB\tNAME.exe"};
  for (const char* name : refused) EXPECT_FALSE(Accepted(name)) << name;
}

TEST_F(OutputName, NamesThatOnlyResembleRefusedOnesPass) {
  const char* const accepted[] = {"COM0.exe",      "COM10",        "CONSOLE.EXE",
                                  "LPT.exe",       "NWD4_322.000", "NWD4_322.01",
                                  "NWD4_322.0001", "NWD4_322.ex",  "a..b.exe"};
  for (const char* name : accepted) EXPECT_TRUE(Accepted(name)) << name;
}

}  // namespace
