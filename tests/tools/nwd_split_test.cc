// The part-set cutting tool, run as a program on real files.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "join/div_header.h"
#include "tests/test_util.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

struct RunResult {
  int status = -1;  // exit status, or -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

struct Part {
  DIVHEADER header;
  Bytes payload;
};

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const fs::path& path) {
  const Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

// The Shift-JIS bytes a header text field should hold: the text, then NULs.
std::string Field(const char (&field)[64]) { return std::string(field, sizeof field); }
std::string Padded(const std::string& bytes) {
  return bytes + std::string(64 - bytes.size(), '\0');
}

class SplitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ =
        fs::path(TOOLS_TEST_SCRATCH) / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "out");
  }

  void TearDown() override {
    // A failed test's files stay for a look.
    if (!HasFailure()) fs::remove_all(dir_);
  }

  fs::path Out() const { return dir_ / "out"; }

  fs::path MakeInput(const std::string& name, std::size_t size) {
    const fs::path path = dir_ / name;
    WriteBytes(path, testutil::Payload(size, static_cast<unsigned>(size)));
    return path;
  }

  // Runs the tool with the given arguments in the given folder; its output
  // and error texts are caught in files beside the test's folders.
  RunResult Run(const std::vector<std::string>& args, const fs::path& cwd = {}) {
    const fs::path outFile = dir_ / "stdout.txt";
    const fs::path errFile = dir_ / "stderr.txt";
    std::vector<char*> argv;
    std::string program = NWD_SPLIT_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
      execv(argv[0], argv.data());
      _exit(127);
    }
    RunResult result;
    int wstatus = 0;
    if (pid < 0 || waitpid(pid, &wstatus, 0) != pid) return result;
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    result.out = ReadText(outFile);
    result.err = ReadText(errFile);
    return result;
  }

  // Every file in the folder named like a part: the prefix and digits.
  static std::vector<std::string> PartNames(const fs::path& folder) {
    std::vector<std::string> names;
    const std::size_t prefix = std::strlen(PART_NAME_PREFIX);
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(PART_NAME_PREFIX, 0) == 0 && name.size() > prefix &&
          name.find_first_not_of("0123456789", prefix) == std::string::npos) {
        names.push_back(name);
      }
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // The set in the folder, part 1 upwards, checked to be a whole and sound
  // set of exactly the parts the first header announces, holding input.
  static std::vector<Part> ReadSet(const fs::path& folder, const Bytes& input) {
    std::vector<Part> parts;
    for (int i = 1; fs::exists(folder / PartFileName(i)); ++i) {
      const Bytes bytes = ReadBytes(folder / PartFileName(i));
      EXPECT_GE(bytes.size(), PART_HEADER_SIZE) << PartFileName(i);
      if (bytes.size() < PART_HEADER_SIZE) return parts;
      unsigned char raw[PART_HEADER_SIZE];
      std::memcpy(raw, bytes.data(), PART_HEADER_SIZE);
      parts.push_back({ParseDivHeader(raw), Bytes(bytes.begin() + PART_HEADER_SIZE, bytes.end())});
    }
    EXPECT_EQ(PartNames(folder).size(), parts.size()) << "stray part files";

    Bytes joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const DIVHEADER& header = parts[i].header;
      EXPECT_EQ(std::string(header.szSignature, 16), std::string("DIVINFO") + std::string(9, '\0'));
      EXPECT_TRUE(HasDivSignature(header));
      EXPECT_EQ(header.nPartNumber, static_cast<std::int32_t>(i + 1));
      EXPECT_EQ(header.nPartCount, static_cast<std::int32_t>(parts.size()));
      EXPECT_EQ(header.nTotalSize, static_cast<std::int32_t>(input.size()));
      // Every header describes the same set.
      EXPECT_EQ(Field(header.szOutputName), Field(parts[0].header.szOutputName));
      EXPECT_EQ(Field(header.szDescription), Field(parts[0].header.szDescription));
      joined.insert(joined.end(), parts[i].payload.begin(), parts[i].payload.end());
    }
    EXPECT_TRUE(joined == input) << "joined payloads differ from the input";
    return parts;
  }

  static std::vector<std::size_t> PayloadSizes(const std::vector<Part>& parts) {
    std::vector<std::size_t> sizes;
    for (const Part& part : parts) sizes.push_back(part.payload.size());
    return sizes;
  }

  // A refused run says why in one line and leaves no part behind.
  void ExpectRefused(const RunResult& result, int status, const std::string& what) {
    EXPECT_EQ(result.status, status) << what;
    EXPECT_EQ(result.err.rfind("nwd_split: ", 0), 0u) << what << ": " << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1)
        << what << ": " << result.err;
    EXPECT_TRUE(PartNames(Out()).empty()) << what;
  }

  fs::path dir_;
};

TEST_F(SplitTest, PartsCutEvenlyAndJoinBackToTheInput) {
  struct Case {
    std::size_t size;
    int parts;
  };
  // Empty payloads, one part, sizes around the 1 MiB copy block.
  const Case cases[] = {{0, 3},
                        {1, 1},
                        {1, 3},
                        {1000, 3},
                        {1000, 7},
                        {5, 99},
                        {COPY_BUFFER_SIZE, 1},
                        {3 * COPY_BUFFER_SIZE + 5, 2}};
  for (const Case& c : cases) {
    const std::string label = std::to_string(c.size) + " bytes in " + std::to_string(c.parts);
    SCOPED_TRACE(label);
    fs::remove_all(Out());
    fs::create_directory(Out());
    const fs::path input = MakeInput("SETUP.EXE", c.size);
    const RunResult result =
        Run({"--parts", std::to_string(c.parts), input.string(), Out().string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");

    const std::vector<Part> parts = ReadSet(Out(), ReadBytes(input));
    ASSERT_EQ(parts.size(), static_cast<std::size_t>(c.parts));
    const std::vector<std::size_t> sizes = PayloadSizes(parts);
    // As even as possible: the larger parts first, one byte apart at most.
    EXPECT_TRUE(std::is_sorted(sizes.rbegin(), sizes.rend()));
    EXPECT_LE(sizes.front() - sizes.back(), 1u);
    EXPECT_EQ(Field(parts[0].header.szOutputName), Padded("SETUP.EXE"));
    EXPECT_EQ(Field(parts[0].header.szDescription), Padded(""));
  }
}

TEST_F(SplitTest, PartSizeCutsFullPartsAndTheRestLast) {
  struct Case {
    std::size_t size;
    const char* partSize;
    std::vector<std::size_t> payloads;
  };
  const Case cases[] = {
      {3000, "1000", {1000, 1000, 1000}},
      {3001, "1000", {1000, 1000, 1000, 1}},
      {999, "1000", {999}},
      {2048, "1K", {1024, 1024}},
      {2049, "1k", {1024, 1024, 1}},
      {COPY_BUFFER_SIZE * 5 / 2, "1M", {COPY_BUFFER_SIZE, COPY_BUFFER_SIZE, COPY_BUFFER_SIZE / 2}},
      // An empty input still makes a set: one part with an empty payload.
      {0, "1000", {0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " bytes by " + c.partSize);
    fs::remove_all(Out());
    fs::create_directory(Out());
    const fs::path input = MakeInput("data.bin", c.size);
    const RunResult result = Run({input.string(), "--part-size", c.partSize, Out().string()});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(PayloadSizes(ReadSet(Out(), ReadBytes(input))), c.payloads);
  }
}

TEST_F(SplitTest, WritesIntoTheWorkingFolderByDefault) {
  const fs::path input = MakeInput("SETUP.EXE", 10);
  const RunResult result = Run({input.string()}, Out());
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(PayloadSizes(ReadSet(Out(), ReadBytes(input))), (std::vector<std::size_t>{4, 3, 3}));
}

TEST_F(SplitTest, TextsAreStoredAsShiftJis) {
  fs::create_directory(dir_ / "sub");
  const fs::path input = MakeInput("sub/ソルネ.exe", 100);

  // The default name is the input's base name, without its folder.
  RunResult result = Run({input.string(), Out().string()});
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<Part> parts = ReadSet(Out(), ReadBytes(input));
  ASSERT_FALSE(parts.empty());
  EXPECT_EQ(Field(parts[0].header.szOutputName), Padded("\x83\x5C\x83\x8B\x83\x6C"
                                                        ".exe"));

  // The description holds characters of the code page's Windows extensions.
  result = Run({"--replace", "--output-name", "インストーラ.exe", "--description", "分割テスト①～③",
                input.string(), Out().string()});
  ASSERT_EQ(result.status, 0) << result.err;
  parts = ReadSet(Out(), ReadBytes(input));
  ASSERT_FALSE(parts.empty());
  EXPECT_EQ(Field(parts[0].header.szOutputName),
            Padded("\x83\x43\x83\x93\x83\x58\x83\x67\x81\x5B\x83\x89"
                   ".exe"));
  EXPECT_EQ(Field(parts[0].header.szDescription),
            Padded("\x95\xAA\x8A\x84\x83\x65\x83\x58\x83\x67\x87\x40\x81\x60\x87\x42"));

  // 31 double-byte characters and one single-byte one fill the 63 bytes.
  std::string longest;
  for (int i = 0; i < 31; ++i) longest += "あ";
  result = Run({"--replace", "--output-name", longest + "x", input.string(), Out().string()});
  ASSERT_EQ(result.status, 0) << result.err;
  parts = ReadSet(Out(), ReadBytes(input));
  ASSERT_FALSE(parts.empty());
  std::string expected;
  for (int i = 0; i < 31; ++i) expected += "\x82\xA0";
  EXPECT_EQ(Field(parts[0].header.szOutputName), Padded(expected + "x"));
}

TEST_F(SplitTest, TextsThatDoNotFitAreRefused) {
  const fs::path input = MakeInput("SETUP.EXE", 100);
  std::string kana32;
  for (int i = 0; i < 32; ++i) kana32 += "あ";
  const struct {
    const char* option;
    std::string text;
    const char* what;
  } cases[] = {
      {"--output-name", std::string(64, 'a'), "64 single-byte characters"},
      {"--output-name", kana32, "32 double-byte characters"},
      {"--output-name", "\xF0\x9F\x98\x80.exe", "a character outside code page 932"},
      {"--output-name", "a\xFF.exe", "bytes that are not UTF-8"},
      {"--output-name", "\xE3\x81", "UTF-8 cut inside a character"},
      {"--description", std::string(64, 'd'), "a 64-byte description"},
      {"--description", "\xF0\x9F\x98\x80", "a description outside code page 932"},
  };
  for (const auto& c : cases) {
    ExpectRefused(Run({c.option, c.text, input.string(), Out().string()}), 2, c.what);
  }
  // A default name taken from an input with an unencodable name is refused too.
  const fs::path emoji = MakeInput("\xF0\x9F\x98\x80.exe", 10);
  ExpectRefused(Run({emoji.string(), Out().string()}), 2, "input name outside code page 932");
}

TEST_F(SplitTest, UsageErrorsWriteNothing) {
  const std::string input = MakeInput("SETUP.EXE", 100).string();
  const std::string out = Out().string();
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"--parts", "0", input, out},
      {"--parts", "100000", input, out},
      {"--parts", "3x", input, out},
      {"--parts", "-1", input, out},
      {"--part-size", "0", input, out},
      {"--part-size", "1G", input, out},
      {"--parts", "2", "--part-size", "10", input, out},
      {"--bogus", input, out},
      {"-x", input, out},
      {input, out, out},
      {input, out, "--parts"},
  };
  for (const auto& args : cases) {
    std::string label;
    for (const std::string& arg : args) label += arg + " ";
    ExpectRefused(Run(args), 2, label);
  }
  // More parts than a header may announce.
  const std::string big = MakeInput("big.bin", 100000).string();
  ExpectRefused(Run({"--part-size", "1", big, out}), 2, "100000 parts of one byte");
}

TEST_F(SplitTest, HelpIsShownAndNothingWritten) {
  const RunResult result = Run({"--help"}, Out());
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("Usage: nwd_split", 0), 0u) << result.out;
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(PartNames(Out()).empty());
}

TEST_F(SplitTest, UnusableInputOrFolderFailsWithoutParts) {
  const std::string input = MakeInput("SETUP.EXE", 100).string();
  ExpectRefused(Run({(dir_ / "missing.exe").string(), Out().string()}), 1, "missing input");
  ExpectRefused(Run({dir_.string(), Out().string()}), 1, "a folder as input");
  ExpectRefused(Run({input, input + "/sub"}), 1, "an output folder below a file");

  // The total is a signed 32-bit number: 2 GiB cannot be described. The
  // file is sparse, so it costs no space.
  const fs::path huge = dir_ / "huge.bin";
  WriteBytes(huge, {});
  fs::resize_file(huge, std::uintmax_t{1} << 31);
  ExpectRefused(Run({huge.string(), Out().string()}), 1, "an input of 2 GiB");
}

TEST_F(SplitTest, FailureMidwayRemovesThePartsAlreadyWritten) {
  const fs::path input = MakeInput("SETUP.EXE", 3000);

  // Part 2 cannot be created: part 1 was complete and must go again, while
  // the obstacle, not written by the tool, stays.
  fs::create_directory(Out() / "NWD4_322.002");
  RunResult result = Run({input.string(), Out().string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_EQ(PartNames(Out()), std::vector<std::string>{"NWD4_322.002"});
  EXPECT_TRUE(fs::is_directory(Out() / "NWD4_322.002"));
  fs::remove(Out() / "NWD4_322.002");

  // Part 2 fills up after its header.
  fs::create_symlink("/dev/full", Out() / "NWD4_322.002");
  result = Run({input.string(), Out().string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("NWD4_322.002"), std::string::npos) << result.err;
  EXPECT_FALSE(fs::exists(Out() / "NWD4_322.001"));
  EXPECT_FALSE(fs::exists(Out() / "NWD4_322.003"));
}

TEST_F(SplitTest, RefusesToOverwriteItsInputWithAPart) {
  const fs::path input = Out() / "NWD4_322.002";
  WriteBytes(input, testutil::Payload(500, 1));
  for (const bool replace : {false, true}) {
    std::vector<std::string> args = {"--output-name", "SETUP.EXE", input.string(), Out().string()};
    if (replace) args.insert(args.begin(), "--replace");
    const RunResult result = Run(args);
    EXPECT_EQ(result.status, 2) << replace;
    EXPECT_NE(result.err.find("is itself a part file"), std::string::npos) << result.err;
    EXPECT_EQ(ReadBytes(input), testutil::Payload(500, 1));
    EXPECT_EQ(PartNames(Out()), std::vector<std::string>{"NWD4_322.002"});
  }
}

// The target folder is made when missing; one that holds part files of any
// case is refused untouched, or with --replace emptied of them first, so that
// no part of an older set survives beside the new one.
TEST_F(SplitTest, OldPartsInTheFolderAreRefusedOrReplaced) {
  const std::vector<std::string> newSet = {"NWD4_322.001", "NWD4_322.002", "NWD4_322.003"};
  const std::vector<std::string> oldFive = {"NWD4_322.001", "NWD4_322.002", "NWD4_322.003",
                                            "NWD4_322.004", "NWD4_322.005"};
  const std::vector<std::string> others = {"NWD4_322.exe", "NWD4_322.001.bak", "notes.txt"};
  const struct {
    const char* what;
    std::vector<std::string> before;  // empty: the folder does not exist
    bool replace;
    int status;
    std::vector<std::string> after;
  } cases[] = {
      {"missing folder and parents", {}, false, 0, newSet},
      {"an older set of five", oldFive, false, 2, oldFive},
      {"a lower-case stray", {"nwd4_322.010"}, false, 2, {"nwd4_322.010"}},
      {"--replace on five and a stray",
       {"NWD4_322.001", "NWD4_322.004", "nwd4_322.1000"},
       true,
       0,
       newSet},
      {"names that are no parts",
       others,
       false,
       0,
       {"NWD4_322.001", "NWD4_322.001.bak", "NWD4_322.002", "NWD4_322.003", "NWD4_322.exe",
        "notes.txt"}},
  };
  const fs::path input = MakeInput("SETUP.EXE", 1000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path folder = Out() / "new" / "set";
    fs::remove_all(Out() / "new");
    if (!c.before.empty()) fs::create_directories(folder);
    for (const std::string& name : c.before) WriteBytes(folder / name, {'o', 'l', 'd'});

    std::vector<std::string> args = {input.string(), folder.string()};
    if (c.replace) args.push_back("--replace");
    const RunResult result = Run(args);
    EXPECT_EQ(result.status, c.status) << result.err;
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, c.after);
    if (c.status != 0) {
      for (const std::string& name : c.before) EXPECT_EQ(ReadText(folder / name), "old") << name;
      continue;
    }
    ReadSet(folder, ReadBytes(input));
    // One line: what was written, where, how large, and what it joins into.
    EXPECT_EQ(result.out, "nwd_split: wrote 3 parts (NWD4_322.001 to NWD4_322.003) in " +
                              folder.string() +
                              ": 1 of 490 bytes and 2 of 489 bytes; they join into SETUP.EXE "
                              "of 1000 bytes" +
                              (c.replace ? "; 3 old part(s) removed\n" : "\n"));
  }
}

}  // namespace
