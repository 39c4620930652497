#include "join/join_parts.h"

#include <algorithm>
#include <new>

#include "join/part_set.h"
#include "platform/app.h"
#include "platform/file.h"
#include "platform/progress.h"
#include "platform/system.h"

namespace {

constexpr const char* kCannotCreateOutput = "をオープンできません。";
constexpr const char* kCannotOpenPart = "がオープンできません。";
constexpr const char* kWritingOutput = " を作成しています…";

// TRUE when the name reaches one of the set's parts or the program file.
BOOL IsFileOfTheSet(const std::string& fileName, std::int32_t partCount) {
  CFileId target;
  if (!GetFileId(fileName, target)) return FALSE;
  CFileId other;
  if (GetFileId(GetProgramPath(), other) && other == target) return TRUE;
  for (std::int32_t i = 1; i <= partCount; ++i) {
    if (GetFileId(PartFileName(i), other) && other == target) return TRUE;
  }
  return FALSE;
}

// Copies every payload into the open output, showing its progress once it
// takes a while. FALSE when a part could not be opened (after saying so) or
// the user stopped it; platform errors pass as exceptions.
BOOL CopyPayloads(const DIVHEADER& firstHeader, const std::string& outputName,
                  const std::vector<std::uint64_t>& partLengths, CFile& output,
                  unsigned char* buffer) {
  // The verification has just passed, so the total is not negative; the
  // 64-bit count still never lets a wrapped value move a negative block.
  std::int64_t remaining = std::max<std::int64_t>(firstHeader.nTotalSize, 0);
  // Gone before this function is left, however it is left: before any
  // message of the joiner and before the launch.
  CJoinProgress progress(outputName + kWritingOutput, static_cast<std::uint64_t>(remaining));

  for (std::int32_t i = 1; i <= firstHeader.nPartCount; ++i) {
    const std::string name = PartFileName(i);
    CFile part;
    if (!part.Open(name, CFile::modeRead)) {
      // The output stays open, holding what was written, until the user has
      // read this.
      progress.End();
      AfxMessageBox(name + kCannotOpenPart);
      return FALSE;
    }
    // A part that grew, shrank or changed places since it was verified
    // would give an installer of the right length and the wrong bytes: the
    // copy stops as at an end of file, naming the part.
    const std::uint64_t length = part.GetLength();
    DIVHEADER header;
    if (static_cast<std::size_t>(i) > partLengths.size() || length != partLengths[i - 1] ||
        !ReadDivHeader(part, header) || header.nPartNumber != i) {
      throw CFileException(CFileException::endOfFile, -1, part.GetFilePath());
    }
    std::int64_t n = std::min(static_cast<std::int64_t>(length) - PART_HEADER_SIZE, remaining);
    part.Seek(PART_HEADER_SIZE, CFile::begin);
    while (n > 0) {
      const UINT block = static_cast<UINT>(std::min<std::int64_t>(n, COPY_BUFFER_SIZE));
      if (CopyBlock(part, output, buffer, block) != block) {
        throw CFileException(CFileException::endOfFile, -1, part.GetFilePath());
      }
      n -= block;
      remaining -= block;
      // The user stopped the join: it ends as a failed one, without a word.
      if (!progress.Step(block)) return FALSE;
    }
    part.Close();
  }
  // The parts no longer hold the total they were verified to hold: an
  // installer cut short must not be launched.
  if (remaining > 0) throw CFileException(CFileException::endOfFile, -1, output.GetFilePath());
  return TRUE;
}

}  // namespace

BOOL JoinParts(const DIVHEADER& firstHeader, const std::string& outputName,
               const std::vector<std::uint64_t>& partLengths) {
  // Deleting the old output must never cost a part or the program itself,
  // whichever name leads to them.
  if (IsFileOfTheSet(outputName, firstHeader.nPartCount)) {
    AfxMessageBox(outputName + kCannotCreateOutput);
    return FALSE;
  }
  DeleteFile(outputName);
  // The new output takes the name only once it is whole: until then the name
  // holds nothing that could be started.
  CNewFile output;
  if (!output.Create(outputName)) {
    AfxMessageBox(outputName + kCannotCreateOutput);
    return FALSE;
  }

  try {
    CGlobalBuffer buffer(COPY_BUFFER_SIZE);
    if (!buffer.data()) throw std::bad_alloc();
    if (!CopyPayloads(firstHeader, outputName, partLengths, output, buffer.data())) {
      output.Discard();
      return FALSE;
    }
    // An installer made of downloaded parts keeps their warning.
    output.TakeOriginMark(GetProgramPath());
    for (std::int32_t i = 1; i <= firstHeader.nPartCount; ++i) {
      output.TakeOriginMark(PartFileName(i));
    }
    if (!output.Commit()) {
      // Something took the name while the parts were copied; it stays.
      AfxMessageBox(outputName + kCannotCreateOutput);
      return FALSE;
    }
  } catch (...) {
    // Nothing half-written may stay behind, not even while the report waits.
    output.Discard();
    AfxReportException();
    return FALSE;
  }
  return TRUE;
}
