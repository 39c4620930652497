// backend_calls: the Windows backend's calls that only a real system can
// answer, one a line, for run_wine_tests.sh:
//   id PATH            the identity FileIdentity gives
//   fileidinfo PATH    the 128-bit id the system gives, in the same form
//   short-name PATH    whether the name is only another file's short name
//   remove PATH        whether deleting by that name removed a file
//   face NAME          the face the dialog is drawn in for a template's face
//   viewer             whether the help viewer works (not the stub)
//   error-mode         the process's and the thread's error mode once the
//                      backend has prepared the process
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/win32/win32_api.h"

namespace {

int PrintIdentity(std::uint64_t volume, std::uint64_t low, std::uint64_t high) {
  std::printf("id %llx %llx %llx\n", static_cast<unsigned long long>(volume),
              static_cast<unsigned long long>(low), static_cast<unsigned long long>(high));
  return 0;
}

int Identity(const std::wstring& path) {
  std::uint64_t volume = 0, low = 0, high = 0;
  if (!win32::FileIdentity(win32::Narrow(path), volume, low, high)) return 1;
  return PrintIdentity(volume, low, high);
}

int FileIdInfoOf(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  FILE_ID_INFO id = {};
  const bool known = GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id);
  CloseHandle(file);
  if (!known) return 1;
  std::uint64_t low = 0, high = 0;
  std::memcpy(&low, id.FileId.Identifier, sizeof low);
  std::memcpy(&high, id.FileId.Identifier + sizeof low, sizeof high);
  return PrintIdentity(id.VolumeSerialNumber, low, high);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring verb = argc > 1 ? argv[1] : L"";
  if (verb == L"id" && argc == 3) return Identity(argv[2]);
  if (verb == L"fileidinfo" && argc == 3) return FileIdInfoOf(argv[2]);
  if (verb == L"error-mode" && argc == 2) {
    win32::PrepareProcess();
    std::printf("process %u thread %lu\n", GetErrorMode(), GetThreadErrorMode());
    return 0;
  }
  if (verb == L"short-name" && argc == 3) {
    std::printf("%s\n", win32::IsShortNameOfOtherFile(win32::Narrow(argv[2])) ? "yes" : "no");
    return 0;
  }
  if (verb == L"remove" && argc == 3) {
    std::printf("%s\n", win32::RemoveFile(win32::Narrow(argv[2])) ? "removed" : "kept");
    return 0;
  }
  if (verb == L"face" && argc == 3) {
    std::printf("%s\n", win32::Narrow(win32::DialogFace(argv[2])).c_str());
    return 0;
  }
  if (verb == L"viewer" && argc == 2) {
    std::printf("%s\n", win32::HelpViewerWorks() ? "works" : "stub");
    return 0;
  }
  std::printf(
      "usage: backend_calls id PATH | fileidinfo PATH | short-name PATH | face NAME | viewer |"
      " error-mode | remove PATH\n");
  return 2;
}
