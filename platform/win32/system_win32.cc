// System services of the Windows backend: folders, drives, launching, the
// copy buffer and the program's own path.
#include <map>
#include <new>

#include "platform/backend.h"
#include "platform/system.h"
#include "platform/win32/win32_api.h"

namespace {

constexpr unsigned kShiftJisCodePage = 932;

// The system's handle of each block, by the block's data: only this
// backend's blocks have one.
std::map<const unsigned char*, void*> g_blockHandles;

}  // namespace

const char kFolderSeparator = '\\';

BOOL GetCurrentFolder(std::string& folder) { return win32::CurrentDirectory(folder); }

UINT GetFolderDriveType(const std::string& folder) {
  // The root is the folder's first three characters, "C:\" for a folder on a
  // drive. A network path has no drive root there, and the system answers
  // that no such root exists.
  const UINT drive = win32::DriveType(folder.substr(0, 3));
  // A fixed drive's folder may still live elsewhere: a volume mounted in a
  // folder, a junction to a USB stick, a link to a network share.
  return drive == DRIVE_FIXED ? win32::FolderVolumeType(folder) : drive;
}

BOOL DeleteFile(const std::string& fileName) { return win32::RemoveFile(fileName); }

std::string GetProgramPath() { return win32::ModulePath(); }

std::string GetProgramFileName() {
  const std::string path = win32::ModulePath();
  return path.substr(path.find_last_of(kFolderSeparator) + 1);
}

void LaunchFile(const std::string& fullPath) {
  const std::string::size_type separator = fullPath.find_last_of(kFolderSeparator);
  const std::string folder =
      separator == std::string::npos ? std::string() : fullPath.substr(0, separator + 1);
  win32::Launch(fullPath, folder);
}

BOOL DecodeCodePage932(const char* bytes, std::size_t length, std::string& utf8) {
  return win32::DecodeCodePage(kShiftJisCodePage, bytes, length, utf8);
}

CGlobalBuffer::CGlobalBuffer(std::size_t size) {
  void* block = nullptr;
  unsigned char* data = win32::AllocateZeroed(size, block);
  if (!data) return;
  // Without room to note the handle the block could never be freed: it is
  // memory not had.
  try {
    g_blockHandles.emplace(data, block);
  } catch (const std::bad_alloc&) {
    win32::Free(block);
    return;
  }
  m_pData = data;
  m_nSize = size;
}

CGlobalBuffer::~CGlobalBuffer() {
  const auto found = g_blockHandles.find(m_pData);
  if (found == g_blockHandles.end()) return;
  win32::Free(found->second);
  g_blockHandles.erase(found);
}

namespace platform {

void InitProcess() { win32::PrepareProcess(); }

}  // namespace platform
