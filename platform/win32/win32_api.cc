// Text, process, file and memory calls of the Windows backend.
// <windows.h> comes first: the other system headers build on it.
#include <windows.h>
//
#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "platform/win32/win32_api.h"
#include "platform/win32/win32_calls.h"

namespace win32 {

SystemCalls os;

namespace {

// A path-returning call asked again with a larger buffer until it fits.
// get(buffer, size) answers like GetCurrentDirectoryW: the length written,
// or the size needed, or 0 on failure.
template <typename Get>
bool GrowingQuery(Get get, std::wstring& result) {
  std::vector<wchar_t> buffer(MAX_PATH + 1);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = get(buffer.data(), size);
    if (length == 0) return false;
    if (length < size) {
      result.assign(buffer.data(), length);
      return true;
    }
    if (buffer.size() >= 0x8000 * 2) return false;  // beyond any path the system makes
    buffer.resize(length > size ? length + 1 : buffer.size() * 2);
  }
}

bool FullPathOf(const std::string& path, std::wstring& full);
bool IsOtherFilesShortName(const std::wstring& full);

}  // namespace

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(utf8.size());
  const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
  if (needed <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, &wide[0], needed);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty() || wide.size() > INT_MAX) return std::string();
  const int length = static_cast<int>(wide.size());
  const int needed =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string utf8(static_cast<std::size_t>(needed), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, &utf8[0], needed, nullptr, nullptr);
  return utf8;
}

bool DecodeCodePage(unsigned codePage, const char* bytes, std::size_t length, std::string& utf8) {
  if (length == 0) {
    utf8.clear();
    return true;
  }
  if (length > INT_MAX) return false;
  const int size = static_cast<int>(length);
  const int needed = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, size, nullptr, 0);
  if (needed <= 0) return false;
  std::wstring wide(static_cast<std::size_t>(needed), L'\0');
  if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes, size, &wide[0], needed) !=
      needed) {
    return false;
  }
  utf8 = Narrow(wide);
  return true;
}

void PrepareProcess() {
  // Before anything can load a DLL: never from the current folder, which
  // holds whatever the user copied there with the parts.
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // For this thread alone: the process's mode would pass to the installer
  // it starts, which needs its own "insert disk" and missing-library boxes.
  ::SetThreadErrorMode(::GetThreadErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX,
                       nullptr);
}

std::string ModulePath() {
  std::wstring path;
  const bool ok = GrowingQuery(
      [](wchar_t* buffer, DWORD size) {
        // A truncated answer fills the whole buffer: ask for more.
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer, size);
        return length == size ? size + 1 : length;
      },
      path);
  return ok ? Narrow(path) : std::string();
}

bool CurrentDirectory(std::string& folder) {
  std::wstring path;
  if (!GrowingQuery(
          [](wchar_t* buffer, DWORD size) { return os.GetCurrentDirectoryW(size, buffer); },
          path)) {
    return false;
  }
  folder = Narrow(path);
  return true;
}

unsigned DriveType(const std::string& root) { return os.GetDriveTypeW(Widen(root).c_str()); }

namespace {

// A name without the extended prefix, as the shell takes names.
std::wstring PlainPath(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\\\" + path.substr(8);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

}  // namespace

void Launch(const std::string& fullPath, const std::string& folder) {
  // The name the new file took: the system drops trailing dots and spaces,
  // and the shell would judge the raw name by an extension it lacks.
  std::wstring file;
  if (!FullPathOf(fullPath, file)) return;
  // The shell starts nothing by an extended name; past the limit the file's
  // short name, where the volume keeps short names, is one it can start.
  if (file.size() >= MAX_PATH) {
    const std::wstring extended = ExtendedPath(file);
    std::wstring shortName;
    if (GrowingQuery(
            [&extended](wchar_t* buffer, DWORD size) {
              return ::GetShortPathNameW(extended.c_str(), buffer, size);
            },
            shortName) &&
        PlainPath(shortName).size() < MAX_PATH) {
      file = PlainPath(shortName);
    }
  }
  const std::wstring directory = Widen(folder);
  // Shell extensions that a launch may reach expect COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof info;
  // Synchronous, so that the start is complete before the process ends; no
  // SEE_MASK_FLAG_NO_UI: the system's own report (refused elevation, say) is
  // the only word the user gets about a failed start.
  info.fMask = SEE_MASK_NOASYNC;
  info.lpFile = file.c_str();
  info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  info.nShow = SW_SHOWNORMAL;
  os.ShellExecuteExW(&info);
  if (SUCCEEDED(com)) ::CoUninitialize();
}

namespace {

// The absolute name of a path; false for an empty or impossible one.
bool FullPathOf(const std::string& path, std::wstring& full) {
  const std::wstring name = Widen(path);
  return !name.empty() && GrowingQuery(
                              [&name](wchar_t* buffer, DWORD size) {
                                return os.GetFullPathNameW(name.c_str(), size, buffer, nullptr);
                              },
                              full);
}

// A file that another program holds is mostly let go within a moment (a
// scanner, an indexer, a sync client, a viewer): its open is tried again for
// up to a second before the file counts as held. Once one file has stayed
// held that long, whatever holds it likely holds the others too: they count
// as held at once, so that a set held as a whole costs one wait, not one a
// part.
bool g_patienceSpent = false;

template <typename Open>
HANDLE OpenOnceLetGo(Open open) {
  constexpr ULONGLONG kPatienceMs = 1000;
  constexpr DWORD kPollMs = 50;
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    const HANDLE file = open();
    if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_SHARING_VIOLATION) return file;
    if (g_patienceSpent || ::GetTickCount64() - start >= kPatienceMs) {
      g_patienceSpent = true;
      return file;
    }
    ::Sleep(kPollMs);
  }
}

}  // namespace

std::intptr_t FileOpen(const std::string& path, bool write, std::string& fullPath) {
  std::wstring full;
  if (!FullPathOf(path, full)) return kNoFile;
  // Share mode 0: nobody else opens the file while it is held, and a file
  // someone else holds does not open.
  const HANDLE file = OpenOnceLetGo([&full, write] {
    return os.CreateFileW(ExtendedPath(full).c_str(), write ? GENERIC_WRITE : GENERIC_READ, 0,
                          nullptr, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
  });
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  // Devices, pipes and consoles are no part files.
  if (os.GetFileType(file) != FILE_TYPE_DISK) {
    os.CloseHandle(file);
    return kNoFile;
  }
  fullPath = Narrow(full);
  return reinterpret_cast<std::intptr_t>(file);
}

unsigned long FileRead(std::intptr_t file, void* buffer, std::uint32_t count, std::uint32_t& got) {
  got = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (got < count) {
    DWORD read = 0;
    if (!os.ReadFile(reinterpret_cast<HANDLE>(file), bytes + got, count - got, &read, nullptr)) {
      return ::GetLastError();
    }
    if (read == 0) break;  // the end of the file
    got += read;
  }
  return 0;
}

unsigned long FileWrite(std::intptr_t file, const void* buffer, std::uint32_t count,
                        std::uint32_t& written) {
  DWORD done = 0;
  const BOOL ok = os.WriteFile(reinterpret_cast<HANDLE>(file), buffer, count, &done, nullptr);
  written = done;
  return ok ? 0 : ::GetLastError();
}

unsigned long FileSeek(std::intptr_t file, std::int64_t offset, unsigned from,
                       std::uint64_t& position) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER now;
  now.QuadPart = 0;
  const DWORD method = from == 1 ? FILE_CURRENT : from == 2 ? FILE_END : FILE_BEGIN;
  if (!os.SetFilePointerEx(reinterpret_cast<HANDLE>(file), distance, &now, method)) {
    return ::GetLastError();
  }
  position = static_cast<std::uint64_t>(now.QuadPart);
  return 0;
}

unsigned long FileSize(std::intptr_t file, std::uint64_t& size) {
  LARGE_INTEGER length;
  if (!os.GetFileSizeEx(reinterpret_cast<HANDLE>(file), &length)) return ::GetLastError();
  size = static_cast<std::uint64_t>(length.QuadPart);
  return 0;
}

unsigned long FileClose(std::intptr_t file) {
  return os.CloseHandle(reinterpret_cast<HANDLE>(file)) ? 0 : ::GetLastError();
}

bool FileIdentity(const std::string& path, std::uint64_t& volume, std::uint64_t& index,
                  std::uint64_t& indexHigh) {
  std::wstring full;
  if (!FullPathOf(path, full)) return false;
  // No access asked, every kind of sharing allowed: even a file that
  // someone holds alone can be told apart.
  const HANDLE file = os.CreateFileW(ExtendedPath(full).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // The 128-bit id: on ReFS the 64-bit index need not be unique. A file
  // system without it fails the call or answers 0.
  FILE_ID_INFO id = {};
  const bool wide = os.GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) &&
                    std::any_of(std::begin(id.FileId.Identifier), std::end(id.FileId.Identifier),
                                [](BYTE b) { return b != 0; });
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = wide || os.GetFileInformationByHandle(file, &info) != FALSE;
  os.CloseHandle(file);
  if (!known) return false;
  if (wide) {
    volume = id.VolumeSerialNumber;
    std::memcpy(&index, id.FileId.Identifier, sizeof index);
    std::memcpy(&indexHigh, id.FileId.Identifier + sizeof index, sizeof indexHigh);
  } else {
    volume = info.dwVolumeSerialNumber;
    index = static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    indexHigh = 0;
  }
  return true;
}

namespace {

bool SetDeleteOnClose(HANDLE file, bool remove) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = remove ? TRUE : FALSE;
  return os.SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                       sizeof disposition) != FALSE;
}

// Renames an open file, which must have been opened with DELETE access, to
// a name that must be free.
bool RenameOpenFile(HANDLE file, const std::wstring& target) {
  const std::size_t bytes = sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(bytes, 0);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->ReplaceIfExists = FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
  std::copy(target.begin(), target.end(), rename->FileName);
  return os.SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(bytes)) !=
         FALSE;
}

// Beside the name, no longer than it needs to be unique and no program's.
std::wstring TemporaryPathFor(const std::wstring& full) {
  wchar_t suffix[16];
  std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L".%lx~",
                static_cast<unsigned long>(::GetCurrentProcessId()));
  return full + suffix;
}

}  // namespace

std::intptr_t NewFileCreate(const std::string& name, std::string& fullPath) {
  std::wstring full;
  if (!FullPathOf(name, full)) return kNoFile;
  // The name must be free: an old file that could not be deleted stays.
  if (os.GetFileAttributesW(ExtendedPath(full).c_str()) != INVALID_FILE_ATTRIBUTES ||
      (::GetLastError() != ERROR_FILE_NOT_FOUND && ::GetLastError() != ERROR_PATH_NOT_FOUND)) {
    return kNoFile;
  }
  const HANDLE file =
      os.CreateFileW(ExtendedPath(TemporaryPathFor(full)).c_str(), GENERIC_WRITE | DELETE, 0,
                     nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  // However the run ends from here on, the system removes the file with its
  // last handle, unless it was named first.
  if (!SetDeleteOnClose(file, true)) {
    os.CloseHandle(file);
    os.DeleteFileW(ExtendedPath(TemporaryPathFor(full)).c_str());
    return kNoFile;
  }
  fullPath = Narrow(full);
  return reinterpret_cast<std::intptr_t>(file);
}

unsigned long NewFileCommit(std::intptr_t handle, const std::string& fullPath) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle);
  DWORD error = ERROR_SUCCESS;
  bool leftBehind = false;
  if (!SetDeleteOnClose(file, false) || !RenameOpenFile(file, ExtendedPath(Widen(fullPath)))) {
    error = ::GetLastError();
    leftBehind = !SetDeleteOnClose(file, true);
  }
  if (!os.CloseHandle(file) && error == ERROR_SUCCESS) {
    // A close that fails may have lost written data: the name must not keep it.
    error = ::GetLastError();
    os.DeleteFileW(ExtendedPath(Widen(fullPath)).c_str());
  }
  // A file that would not go with its handle goes by its name.
  if (leftBehind) os.DeleteFileW(ExtendedPath(TemporaryPathFor(Widen(fullPath))).c_str());
  return error;
}

bool IsNameTaken(unsigned long error) {
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// --- what only real Windows shows: marks, mounted folders, caches, holders ---

namespace {

const wchar_t kZoneStream[] = L":Zone.Identifier";
constexpr int kInternetZone = 3;

// The ZoneId of the [ZoneTransfer] section of a mark's text, or -1. Names
// are matched regardless of case, blanks around them ignored, as in any
// such settings text.
int ParseZoneId(const std::string& text) {
  bool inSection = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    std::transform(line.begin(), line.end(), line.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    line.erase(0, line.find_first_not_of(" \t"));
    line.erase(line.find_last_not_of(" \t") + 1);
    if (!line.empty() && line[0] == '[') {
      inSection = line == "[zonetransfer]";
      continue;
    }
    if (!inSection || line.compare(0, 6, "zoneid") != 0) continue;
    std::size_t at = line.find_first_not_of(" \t", 6);
    if (at == std::string::npos || line[at] != '=') continue;
    at = line.find_first_not_of(" \t", at + 1);
    if (at == std::string::npos || line[at] < '0' || line[at] > '9') return -1;
    int zone = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9' && zone < 100000; ++at) {
      zone = zone * 10 + (line[at] - '0');
    }
    return zone;
  }
  return -1;
}

bool HasNamedStreams(HANDLE file) {
  DWORD flags = 0;
  return os.GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
         (flags & FILE_NAMED_STREAMS) != 0;
}

}  // namespace

// A program that holds the file with delete sharing (a preview, a scanner)
// lets the deletion through, but the name stays taken until it lets go, and
// a new file cannot have it (FAT, exFAT, systems before the deletion that
// frees the name at once). Moved first under a hidden name of its own, the
// file frees its name whoever holds it. A read-only file stays, as the
// system's own deletion keeps it.
bool RemoveFile(const std::string& path) {
  // Never by another file's short name: that deletes a file nobody named.
  std::wstring full;
  if (!FullPathOf(path, full) || IsOtherFilesShortName(full)) return false;
  const std::wstring extended = ExtendedPath(full);
  const HANDLE file =
      os.CreateFileW(extended.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return os.DeleteFileW(extended.c_str()) != FALSE;
  FILE_BASIC_INFO basic = {};
  if (!os.GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
    os.CloseHandle(file);
    return false;
  }
  const std::wstring folder = full.substr(0, full.find_last_of(L'\\') + 1);
  std::wstring aside;
  for (unsigned attempt = 0; attempt < 16 && aside.empty(); ++attempt) {
    const std::wstring candidate = folder + L"~nwd" + std::to_wstring(::GetCurrentProcessId()) +
                                   L"-" + std::to_wstring(attempt) + L".tmp";
    if (RenameOpenFile(file, ExtendedPath(candidate))) aside = candidate;
  }
  if (!aside.empty()) {
    // Times of zero leave the times as they are.
    FILE_BASIC_INFO hidden = {};
    hidden.FileAttributes = (basic.FileAttributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_HIDDEN;
    os.SetFileInformationByHandle(file, FileBasicInfo, &hidden, sizeof hidden);
  }
  const bool removed = SetDeleteOnClose(file, true);
  // Where it stays, it stays under its own name.
  if (!removed && !aside.empty()) RenameOpenFile(file, extended);
  os.CloseHandle(file);
  return removed;
}

int ZoneOf(const std::string& path) {
  // Absolute, so that a stream of "a" is never taken for drive A:.
  std::wstring name;
  if (!FullPathOf(path, name)) return kNoZone;
  const HANDLE stream = os.CreateFileW((name + kZoneStream).c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stream == INVALID_HANDLE_VALUE) {
    switch (::GetLastError()) {
      case ERROR_FILE_NOT_FOUND:
      case ERROR_PATH_NOT_FOUND:
      case ERROR_INVALID_NAME:
      case ERROR_INVALID_PARAMETER:
      case ERROR_NOT_SUPPORTED:
        return kNoZone;  // no mark, or a file system without streams
      default:
        return kInternetZone;  // a mark that cannot be read is taken at its most likely
    }
  }
  char bytes[4096];
  DWORD got = 0;
  const bool read = os.ReadFile(stream, bytes, sizeof bytes, &got, nullptr) != FALSE;
  os.CloseHandle(stream);
  std::string text(bytes, read ? got : 0);
  // Written by some tools as UTF-16: the digits and brackets are ASCII.
  if (text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE') {
    std::string narrow;
    for (std::size_t i = 2; i < text.size(); i += 2) narrow += text[i];
    text = narrow;
  }
  const int zone = ParseZoneId(text);
  // A mark whose zone cannot be read still says the file came from outside.
  return zone < 0 ? kInternetZone : zone;
}

unsigned long WriteZone(const std::string& path, int zone) {
  std::wstring name;
  if (!FullPathOf(path, name)) return ERROR_INVALID_NAME;
  const HANDLE stream = os.CreateFileW((name + kZoneStream).c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stream == INVALID_HANDLE_VALUE) return ::GetLastError();
  const std::string text = "[ZoneTransfer]\r\nZoneId=" + std::to_string(zone) + "\r\n";
  DWORD written = 0;
  DWORD error = ERROR_SUCCESS;
  if (!os.WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
      !os.FlushFileBuffers(stream)) {
    error = ::GetLastError();
  } else if (written != text.size()) {
    error = ERROR_DISK_FULL;
  }
  if (!os.CloseHandle(stream) && error == ERROR_SUCCESS) error = ::GetLastError();
  return error;
}

unsigned long NewFileSeal(std::intptr_t handle, const std::string& fullPath, int zone) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle);
  // The name must never reach the disk before the data: NTFS journals only
  // the names, and a power cut or a pulled USB disk would leave a damaged
  // installer under it. A file system that cannot flush at all says so.
  if (!os.FlushFileBuffers(file) && ::GetLastError() != ERROR_INVALID_FUNCTION &&
      ::GetLastError() != ERROR_NOT_SUPPORTED) {
    return ::GetLastError();
  }
  if (zone == kNoZone || !HasNamedStreams(file)) return 0;
  // A file that is to go with its handle takes no new stream; until it is
  // named it is held alone all the same.
  if (!SetDeleteOnClose(file, false)) return ::GetLastError();
  const unsigned long error = WriteZone(Narrow(TemporaryPathFor(Widen(fullPath))), zone);
  if (error != ERROR_SUCCESS) SetDeleteOnClose(file, true);
  return error;
}

unsigned FolderVolumeType(const std::string& folder) {
  const HANDLE handle = os.CreateFileW(Widen(folder).c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return DRIVE_UNKNOWN;
  const auto finalPath = [handle](DWORD volumeName, std::wstring& path) {
    return GrowingQuery(
        [handle, volumeName](wchar_t* buffer, DWORD size) {
          return os.GetFinalPathNameByHandleW(handle, buffer, size,
                                              FILE_NAME_NORMALIZED | volumeName);
        },
        path);
  };
  // A volume mounted only in a folder may have no path through a drive
  // letter; its GUID path names it all the same.
  std::wstring final, byGuid;
  const bool byLetter = finalPath(VOLUME_NAME_DOS, final);
  const bool known = byLetter || finalPath(VOLUME_NAME_GUID, byGuid);
  os.CloseHandle(handle);
  if (!known) return DRIVE_UNKNOWN;
  const std::wstring kLocal = L"\\\\?\\";
  if (!byLetter) {
    const std::size_t end = byGuid.find(L'\\', kLocal.size());
    return os.GetDriveTypeW(end == std::wstring::npos ? (byGuid + L"\\").c_str()
                                                      : byGuid.substr(0, end + 1).c_str());
  }
  const std::wstring kShare = kLocal + L"UNC\\";
  if (final.compare(0, kShare.size(), kShare) == 0) return DRIVE_REMOTE;
  // The drive type is asked of a plain root ("D:\\", "C:\\Mnt\\Usb\\"): Wine, at
  // least, answers every root behind the prefix as a fixed disk.
  if (final.compare(0, kLocal.size(), kLocal) == 0) final.erase(0, kLocal.size());
  std::vector<wchar_t> mount(final.size() + 2);
  if (!os.GetVolumePathNameW(final.c_str(), mount.data(), static_cast<DWORD>(mount.size()))) {
    return DRIVE_UNKNOWN;
  }
  return os.GetDriveTypeW(mount.data());
}

namespace {

// Codes of newer systems than the compiler's headers know: a cloud file
// whose provider cannot fetch it, a storage quota, a device that is gone.
constexpr DWORD kCloudProviderNotRunning = 362;
constexpr DWORD kCloudMetadataCorrupt = 363;
constexpr DWORD kCloudNotInSync = 377;
constexpr DWORD kCloudReadOnlyVolume = 381;
constexpr DWORD kCloudValidationFailed = 383;
constexpr DWORD kCloudAuthenticationFailed = 386;
constexpr DWORD kCloudNetworkUnavailable = 388;
constexpr DWORD kCloudUnsuccessful = 389;
constexpr DWORD kCloudInUse = 391;
constexpr DWORD kCloudRequestAborted = 393;
constexpr DWORD kCloudPropertyCorrupt = 394;
constexpr DWORD kCloudAccessDenied = 395;
constexpr DWORD kCloudPropertyLockConflict = 397;
constexpr DWORD kCloudRequestCanceled = 398;
constexpr DWORD kCloudProviderTerminated = 404;
constexpr DWORD kCloudRequestTimeout = 426;
constexpr DWORD kNoSuchDevice = 433;
constexpr DWORD kDiskQuotaExceeded = 1295;

}  // namespace

FileErrorCause FileErrorCauseOf(unsigned long error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_HANDLE:
    case ERROR_NO_MORE_FILES:
    case ERROR_DISK_CHANGE:
      return kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_SAME_DEVICE:
    case ERROR_WRONG_DISK:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
      return kBadPath;
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NO_MORE_SEARCH_HANDLES:
    case ERROR_SHARING_BUFFER_EXCEEDED:
      return kTooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_WRITE_FAULT:
    case ERROR_NETWORK_BUSY:
    case ERROR_NETWORK_ACCESS_DENIED:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
    case ERROR_CANNOT_MAKE:
    case ERROR_BUSY:
    case kCloudReadOnlyVolume:
    case kCloudAuthenticationFailed:
    case kCloudAccessDenied:
      return kAccessDenied;
    case ERROR_NOT_DOS_DISK:
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_BAD_DEV_TYPE:
      return kInvalidFile;
    case ERROR_CURRENT_DIRECTORY:
    case ERROR_DIR_NOT_EMPTY:
      return kRemoveCurrentDir;
    case ERROR_PRINTQ_FULL:
    case ERROR_NO_SPOOL_SPACE:
      return kDirectoryFull;
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_READ_FAULT:
    case ERROR_NEGATIVE_SEEK:
    case ERROR_SEEK_ON_DEVICE:
    case ERROR_BAD_LENGTH:
      return kBadSeek;
    case ERROR_NOT_READY:
    case ERROR_BAD_UNIT:
    case ERROR_BAD_COMMAND:
    case ERROR_CRC:
    case ERROR_ADAP_HDW_ERR:
    case ERROR_BAD_NET_RESP:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NET_WRITE_FAULT:
    case ERROR_OPERATION_ABORTED:
    case ERROR_IO_INCOMPLETE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_NETNAME_DELETED:
    case kNoSuchDevice:
    case ERROR_NO_MEDIA_IN_DRIVE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case kCloudProviderNotRunning:
    case kCloudMetadataCorrupt:
    case kCloudNotInSync:
    case kCloudValidationFailed:
    case kCloudNetworkUnavailable:
    case kCloudUnsuccessful:
    case kCloudRequestAborted:
    case kCloudPropertyCorrupt:
    case kCloudRequestCanceled:
    case kCloudProviderTerminated:
    case kCloudRequestTimeout:
      return kHardIO;
    case ERROR_SHARING_VIOLATION:
    case kCloudInUse:
      return kSharingViolation;
    case ERROR_LOCK_VIOLATION:
    case ERROR_DRIVE_LOCKED:
    case ERROR_LOCK_FAILED:
    case kCloudPropertyLockConflict:
      return kLockViolation;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
    case kDiskQuotaExceeded:
    case ERROR_FILE_TOO_LARGE:
      return kDiskFull;
    case ERROR_HANDLE_EOF:
      return kEndOfFile;
    default:
      return kGenericError;
  }
}

unsigned char* AllocateZeroed(std::size_t size, void*& block) {
  block = os.GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  void* data = os.GlobalLock(block);
  if (!data) {
    ::GlobalFree(block);
    block = nullptr;
  }
  return static_cast<unsigned char*>(data);
}

void Free(void* block) {
  if (!block) return;
  ::GlobalUnlock(block);
  ::GlobalFree(block);
}

// --- long and short names ---

std::wstring ExtendedPath(const std::wstring& fullPath) {
  // The prefix also turns off the system's clean-up of names (trailing dots
  // and spaces, "." and ".."): it goes only on names GetFullPathNameW made.
  if (fullPath.compare(0, 4, L"\\\\?\\") == 0 || fullPath.compare(0, 4, L"\\\\.\\") == 0) {
    return fullPath;
  }
  if (fullPath.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + fullPath.substr(2);
  return L"\\\\?\\" + fullPath;
}

namespace {

bool IsOtherFilesShortName(const std::wstring& full) {
  const std::wstring leaf = full.substr(full.find_last_of(L'\\') + 1);
  // A wildcard names no file, but the search would match it against others.
  if (leaf.empty() || leaf.find_first_of(L"*?<>\"") != std::wstring::npos) return false;
  // The search matches short names too, and answers with the long one.
  WIN32_FIND_DATAW found;
  const HANDLE search = os.FindFirstFileExW(ExtendedPath(full).c_str(), FindExInfoBasic, &found,
                                            FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return ::CompareStringOrdinal(leaf.c_str(), -1, found.cFileName, -1, TRUE) != CSTR_EQUAL;
}

}  // namespace

bool IsShortNameOfOtherFile(const std::string& path) {
  std::wstring full;
  return FullPathOf(path, full) && IsOtherFilesShortName(full);
}

}  // namespace win32
