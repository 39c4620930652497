#include "join/part_set.h"

#include <cstdint>
#include <string>

#include "platform/app.h"

namespace {

constexpr const char* kPartsMissing = "上記のファイルが見つかりません。\n終了します。";
constexpr const char* kPartsDamaged = "上記のファイルが壊れている可能性があります。\n終了します。";
constexpr const char* kWrongTotal =
    "分割ファイルのサイズの合計が正しくありません。\n"
    "ファイルが壊れている可能性があります。\n"
    "終了します。";

}  // namespace

BOOL ReadDivHeader(CFile& part, DIVHEADER& header) {
  unsigned char bytes[PART_HEADER_SIZE] = {};
  const UINT read = part.Read(bytes, PART_HEADER_SIZE);
  header = ParseDivHeader(bytes);
  return read == PART_HEADER_SIZE && HasDivSignature(header);
}

BOOL CheckPartSet(const DIVHEADER& firstHeader, std::vector<std::uint64_t>& partLengths) {
  const std::int32_t count = firstHeader.nPartCount;
  // The sum is kept in 64 bits so that parts of 4 GiB and more are measured
  // truly and a set whose payloads wrap 32 bits can never match the total.
  std::int64_t sum = 0;
  std::string missing;
  std::string damaged;
  partLengths.clear();

  for (std::int32_t i = 1; i <= count; ++i) {
    const std::string name = PartFileName(i);
    CFile part;
    if (!part.Open(name, CFile::modeRead)) {
      missing += name + "\n";
      continue;
    }
    partLengths.push_back(part.GetLength());
    sum += static_cast<std::int64_t>(partLengths.back()) - PART_HEADER_SIZE;
    DIVHEADER header;
    const bool sound = ReadDivHeader(part, header) && header.nPartNumber == i;
    part.Close();
    if (!sound) damaged += name + "\n";
  }

  if (!missing.empty()) {
    AfxMessageBox(missing + kPartsMissing);
    return FALSE;
  }
  if (!damaged.empty()) {
    AfxMessageBox(damaged + kPartsDamaged);
    return FALSE;
  }
  if (sum != firstHeader.nTotalSize) {
    AfxMessageBox(kWrongTotal);
    return FALSE;
  }
  return TRUE;
}
