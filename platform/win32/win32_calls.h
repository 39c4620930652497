// The system calls behind the file, folder, memory and launch functions of
// win32_api.h, made through one table: a test replaces an entry to see the
// backend meet each failure the system can answer with.
#pragma once

#include <windows.h>
//
#include <shellapi.h>

namespace win32 {

struct SystemCalls {
  decltype(&::CreateFileW) CreateFileW = &::CreateFileW;
  decltype(&::GetFileType) GetFileType = &::GetFileType;
  decltype(&::ReadFile) ReadFile = &::ReadFile;
  decltype(&::WriteFile) WriteFile = &::WriteFile;
  decltype(&::SetFilePointerEx) SetFilePointerEx = &::SetFilePointerEx;
  decltype(&::GetFileSizeEx) GetFileSizeEx = &::GetFileSizeEx;
  decltype(&::FlushFileBuffers) FlushFileBuffers = &::FlushFileBuffers;
  decltype(&::CloseHandle) CloseHandle = &::CloseHandle;
  decltype(&::GetFileInformationByHandleEx) GetFileInformationByHandleEx =
      &::GetFileInformationByHandleEx;
  decltype(&::GetFileInformationByHandle) GetFileInformationByHandle =
      &::GetFileInformationByHandle;
  decltype(&::SetFileInformationByHandle) SetFileInformationByHandle =
      &::SetFileInformationByHandle;
  decltype(&::GetVolumeInformationByHandleW) GetVolumeInformationByHandleW =
      &::GetVolumeInformationByHandleW;
  decltype(&::GetFileAttributesW) GetFileAttributesW = &::GetFileAttributesW;
  decltype(&::DeleteFileW) DeleteFileW = &::DeleteFileW;
  decltype(&::FindFirstFileExW) FindFirstFileExW = &::FindFirstFileExW;
  decltype(&::GetFullPathNameW) GetFullPathNameW = &::GetFullPathNameW;
  decltype(&::GetCurrentDirectoryW) GetCurrentDirectoryW = &::GetCurrentDirectoryW;
  decltype(&::GetDriveTypeW) GetDriveTypeW = &::GetDriveTypeW;
  decltype(&::GetFinalPathNameByHandleW) GetFinalPathNameByHandleW = &::GetFinalPathNameByHandleW;
  decltype(&::GetVolumePathNameW) GetVolumePathNameW = &::GetVolumePathNameW;
  decltype(&::GlobalAlloc) GlobalAlloc = &::GlobalAlloc;
  decltype(&::GlobalLock) GlobalLock = &::GlobalLock;
  decltype(&::ShellExecuteExW) ShellExecuteExW = &::ShellExecuteExW;
};

// The table every call of the backend goes through.
extern SystemCalls os;

}  // namespace win32
