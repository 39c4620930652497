// The whole run on the fake, from a folder, faults and a user made from the
// fuzzer's bytes: start-up, verification, join and launch. Any broken rule
// of BrokenRules, or an exception that leaves the run, aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "join/join_app.h"
#include "platform/progress.h"
#include "platform/system.h"
#include "tests/fake/invariants.h"
#include "tests/test_util.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The input a byte at a time; zeros once it runs out.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : m_p(data), m_end(data + size) {}
  unsigned Byte() { return m_p < m_end ? *m_p++ : 0u; }
  unsigned Below(unsigned limit) { return Byte() % limit; }
  std::uint32_t Word() {
    std::uint32_t word = 0;
    for (int shift = 0; shift < 32; shift += 8) word |= std::uint32_t{Byte()} << shift;
    return word;
  }

 private:
  const std::uint8_t* m_p;
  const std::uint8_t* m_end;
};

// Output names: plain ones, and ones the start-up must refuse.
const char* const kNames[] = {"SETUP.EXE",    "",
                              "NWD4_322.002", "..\\UP.EXE",
                              "NWD4_322.exe", "\x83\x5C\x83\x8B\x83\x6C.exe",
                              "setup.exe ",   "CON"};

// What a part file is like, besides sound.
enum PartKind { kAbsent, kHeld, kShorterThanHeader, kOtherNumber, kBadSignature, kClaimsMore };

struct Part {
  Bytes payload;
  bool sound = true;  // would pass the verification on its own
};

int32_t Count(Input& in) {
  const unsigned pick = in.Byte();
  if (pick < 240) return static_cast<int32_t>(pick % 9) - 1;
  // Beyond the bound, or negative.
  const std::uint32_t word = in.Word();
  return pick % 2 ? MAX_PART_COUNT + 1 + static_cast<int32_t>(word % 1000)
                  : static_cast<int32_t>(word | 0x80000000u);
}

// Says what broke, with the run's log to see how, and stops the fuzzer.
void Fail(const fake::Platform& world, const std::vector<std::string>& broken) {
  for (const std::string& event : world.log) std::fprintf(stderr, "  %s\n", event.c_str());
  for (const std::string& rule : broken) std::fprintf(stderr, "broken: %s\n", rule.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  fake::Platform world;
  CJoinApp app;

  // The first header's description of the set.
  const int32_t count = Count(in);
  std::string rawName;
  const unsigned namePick = in.Below(9);
  if (namePick < 8) {
    rawName = kNames[namePick];
  } else {
    for (unsigned n = in.Below(65); n > 0; --n) rawName += static_cast<char>(in.Byte());
  }
  // The name as the program will read it; one it cannot decode is refused.
  const std::string stored = rawName.substr(0, rawName.find('\0'));
  std::string output;
  if (!DecodeCodePage932(stored.data(), stored.size(), output)) output = "\x01undecodable";
  const unsigned deltaPick = in.Byte();
  const int32_t delta = deltaPick < 200   ? 0
                        : deltaPick < 250 ? static_cast<int32_t>(deltaPick) - 225
                                          : static_cast<int32_t>(in.Word());

  // The part files.
  const int32_t made = (count >= 0 && count <= 7 ? count : 0) + static_cast<int32_t>(in.Below(2));
  std::vector<Part> parts(static_cast<std::size_t>(made));
  bool spanning = false;
  for (int32_t i = 1; i <= made; ++i) {
    Part& part = parts[static_cast<std::size_t>(i - 1)];
    const unsigned kind = in.Below(12);
    const unsigned sizePick = in.Byte();
    if (sizePick == 255 && !spanning) {
      // One part may span blocks of the copy buffer: more would only slow
      // the fuzzer down, and so would making its bytes anew each time.
      static const Bytes kLong = testutil::Payload(COPY_BUFFER_SIZE + 255, 0);
      part.payload.assign(kLong.begin(), kLong.begin() + COPY_BUFFER_SIZE - 32 + in.Byte());
      spanning = true;
    } else {
      part.payload = testutil::Payload(sizePick * 3, static_cast<unsigned>(i));
    }
    if (kind == kAbsent) {
      part.sound = false;
      continue;
    }
    DIVHEADER header = testutil::Header(kind == kOtherNumber ? i + 1 : i, count, 0, rawName);
    if (kind == kBadSignature) header.szSignature[7] = 'X';
    Bytes bytes = testutil::Part(header, part.payload);
    if (kind == kShorterThanHeader) bytes.resize(in.Below(PART_HEADER_SIZE));
    world.AddFile(PartFileName(i), bytes);
    world.files[PartFileName(i)].heldByOther = kind == kHeld;
    if (kind == kClaimsMore) world.files[PartFileName(i)].extraLength = 1 + in.Below(300);
    part.sound = kind > kClaimsMore;
  }
  // Only the first header's total counts: set it once the payloads are known.
  int64_t sum = 0;
  for (int32_t i = 1; i <= std::min(count, made); ++i) {
    sum += static_cast<int64_t>(parts[static_cast<std::size_t>(i - 1)].payload.size());
  }
  const auto total = static_cast<int32_t>(sum + delta);
  if (made >= 1 && world.Exists("NWD4_322.001") &&
      world.files["NWD4_322.001"].data.size() >= PART_HEADER_SIZE) {
    Bytes& first = world.files["NWD4_322.001"].data;
    for (int b = 0; b < 4; ++b) first[144 + b] = static_cast<unsigned char>(total >> (8 * b));
  }
  world.AddFile("NWD4_322.exe", Bytes(64, 0x4D));

  // Whatever already lies under the output's name.
  const unsigned existing = in.Below(8);
  if (!output.empty() && !world.Exists(output)) {
    if (existing == 4 || existing == 5) {
      world.AddFile(output, Bytes(7, 0xEE));
      world.files[output].readOnly = existing == 5;
    } else if (existing == 6 && made >= 1) {
      world.links[output] =
          PartFileName(1 + static_cast<int>(in.Below(static_cast<unsigned>(made))));
    } else if (existing == 7) {
      world.links[output] = "NWD4_322.exe";
    }
  }
  fake::Snapshot expected = fake::Snap(world);

  // A part that changes when it is opened for the nth time.
  if (in.Below(4) == 0 && made >= 1) {
    const int32_t k = 1 + static_cast<int32_t>(in.Below(static_cast<unsigned>(made)));
    const std::string name = PartFileName(k);
    const unsigned nth = 1 + in.Below(3);
    const unsigned change = in.Below(5);
    Part& part = parts[static_cast<std::size_t>(k - 1)];
    world.OnOpen(name, static_cast<int>(nth), [&world, &expected, &part, name, change, count, k] {
      if (!world.Exists(name)) return;
      Bytes& bytes = world.files[name].data;
      if (change == 0 && bytes.size() > PART_HEADER_SIZE) {
        bytes.pop_back();
        part.payload.pop_back();
      } else if (change == 1) {
        bytes.push_back(0);
        part.payload.push_back(0);
      } else if (change == 2 && bytes.size() >= PART_HEADER_SIZE) {
        const Bytes header = testutil::HeaderBytes(testutil::Header(k + 1, count, 0));
        std::copy(header.begin() + 148, header.begin() + 152, bytes.begin() + 148);
        part.sound = false;
      } else if (change == 3 && bytes.size() > PART_HEADER_SIZE) {
        bytes.back() ^= 0xFF;
        part.payload.back() ^= 0xFF;
      } else if (change == 4) {
        world.files.erase(name);
        part.sound = false;
      }
      if (world.Exists(name)) {
        expected.files[name] = world.files[name];
      } else {
        expected.files.erase(name);
      }
    });
  }

  // Faults: operations that answer with a flag refuse; the others throw.
  for (unsigned n = in.Below(4); n > 0; --n) {
    const auto op = static_cast<fake::Op>(in.Below(12));
    const unsigned how = in.Below(17);
    const bool throws = op == fake::Op::Read || op == fake::Op::Write || op == fake::Op::Seek ||
                        op == fake::Op::GetLength || op == fake::Op::Close ||
                        (op == fake::Op::Commit && how < 16);
    const int cause = !throws     ? fake::kRefused
                      : how == 14 ? fake::kNoMemory
                      : how == 15 && (op == fake::Op::Read || op == fake::Op::Write) ? fake::kShort
                                                                                     : 1 + how % 14;
    world.FailOn(op, "", cause, 1 + static_cast<int>(in.Below(24)));
  }
  if (in.Below(8) == 0) world.freeSpace = in.Byte() * 16;
  if (in.Below(16) == 0) world.driveType = in.Below(7);
  const unsigned flags = in.Byte();
  world.helpViewerStarts = flags & 1;
  world.iconic = flags & 2;
  // A join slow enough to show its progress, and a user who may stop it.
  if (flags & 4) world.clockStep = CJoinProgress::kDelayMs;
  world.cancelAtUpdate = static_cast<int>(flags >> 3 & 3);
  for (unsigned n = in.Below(6); n > 0; --n) {
    world.script.push_back(static_cast<fake::UserAction>(in.Below(6)));
  }

  try {
    AfxWinMain();
  } catch (...) {
    Fail(world, {"an exception left the run"});
  }

  // The join the folder allowed: every part there and sound, adding up.
  std::optional<Bytes> joined = Bytes();
  int64_t held = 0;
  for (int32_t i = 1; i <= std::max(count, 0) && i <= made; ++i) {
    const Part& part = parts[static_cast<std::size_t>(i - 1)];
    if (!part.sound) joined.reset();
    if (joined) joined->insert(joined->end(), part.payload.begin(), part.payload.end());
    held += static_cast<int64_t>(part.payload.size());
  }
  if (count > made || held != total) joined.reset();

  const std::vector<std::string> broken = fake::BrokenRules(world, expected, output, joined);
  if (!broken.empty()) Fail(world, broken);
  return 0;
}
