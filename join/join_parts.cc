// The joiner: the payloads of every part, in order, cut off at the total.
#include <algorithm>
#include <cstdint>
#include <new>

#include "join/join_app.h"
#include "platform/system.h"

namespace {

constexpr const char* kCannotCreateOutput = "をオープンできません。";
constexpr const char* kCannotOpenPart = "がオープンできません。";
constexpr const char* kOutOfMemory = "ﾒﾓﾘが不足しています。";

}  // namespace

BOOL CJoinApp::JoinParts() {
  DeleteFile(m_strOutputName);
  CFile output;
  if (!output.Open(m_strOutputName, CFile::modeCreate | CFile::modeWrite)) {
    AfxMessageBox(m_strOutputName + kCannotCreateOutput);
    return FALSE;
  }

  BOOL success = FALSE;
  try {
    CGlobalBuffer buffer(COPY_BUFFER_SIZE);
    if (!buffer.data()) throw std::bad_alloc();
    success = CopyPayloads(output, buffer.data());
    output.Close();
  } catch (const CFileException& e) {
    // Nothing half-written may stay behind, not even while the report waits.
    output.Abort();
    DeleteFile(m_strOutputName);
    AfxMessageBox(e.GetErrorMessage(), MB_ICONSTOP);
    return FALSE;
  } catch (const std::bad_alloc&) {
    output.Abort();
    DeleteFile(m_strOutputName);
    AfxMessageBox(kOutOfMemory, MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
    return FALSE;
  }

  if (!success) DeleteFile(m_strOutputName);
  return success;
}

BOOL CJoinApp::CopyPayloads(CFile& output, unsigned char* buffer) {
  // The verification has just passed, so the total is not negative; the
  // 64-bit count still never lets a wrapped value move a negative block.
  std::int64_t remaining = std::max<std::int64_t>(m_divHeader.nTotalSize, 0);

  for (std::int32_t i = 1; i <= m_divHeader.nPartCount; ++i) {
    const std::string name = PartFileName(i);
    CFile part;
    if (!part.Open(name, CFile::modeRead)) {
      // The output stays open, holding what was written, until the user has
      // read this.
      AfxMessageBox(name + kCannotOpenPart);
      return FALSE;
    }
    const std::int64_t payload = static_cast<std::int64_t>(part.GetLength()) - PART_HEADER_SIZE;
    std::int64_t n = std::min(payload, remaining);
    // A part that shrank since it was verified must not leave a gap, nor fill
    // the output with stale buffer bytes: the copy stops as at an end of file.
    if (n < 0) throw CFileException(CFileException::endOfFile, -1, part.GetFilePath());
    part.Seek(PART_HEADER_SIZE, CFile::begin);
    while (n > 0) {
      const UINT block = static_cast<UINT>(std::min<std::int64_t>(n, COPY_BUFFER_SIZE));
      if (part.Read(buffer, block) != block) {
        throw CFileException(CFileException::endOfFile, -1, part.GetFilePath());
      }
      output.Write(buffer, block);
      n -= block;
      remaining -= block;
    }
    part.Close();
  }
  // The parts no longer hold the total they were verified to hold: an
  // installer cut short must not be launched.
  if (remaining > 0) throw CFileException(CFileException::endOfFile, -1, output.GetFilePath());
  return TRUE;
}
