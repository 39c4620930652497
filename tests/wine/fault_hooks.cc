// Every entry of the backend's system call table wrapped: counted, and
// failed at its nth call the way the system fails it.
#include "tests/wine/fault_hooks.h"

#include <cstdio>
#include <type_traits>

#include "platform/win32/win32_api.h"
#include "platform/win32/win32_calls.h"

namespace faults {
namespace {

using win32::os;
using win32::SystemCalls;

SystemCalls g_real;
const UINT g_errorMode = ::GetErrorMode();

// Fail: the call does nothing and answers the error. Done: it does its work
// and answers the error all the same (a close that lost delayed writes).
// Short: a read moves half of what was asked; Cut: a write does. Held: an
// open of an existing file for itself alone fails, as while another program
// holds the file for a moment. NoIdInfo: the query of a file's 128-bit id
// fails, as on a file system without one. Passing: fails as Fail does.
// Short, Held, NoIdInfo and
// Passing faults are ones the backend must absorb: the run ends as it would
// have without them.
enum class Mode { Fail, Done, Short, Cut, Held, NoIdInfo, Passing };

struct Fault {
  const char* call;
  const void* slot;  // the entry of g_real it replaces
  unsigned long error;
  Mode mode;
  long long answer;  // what the call answers when it fails
  int cause;         // the file error every run it strikes reports, or 0
};

#define ROW(call, error, mode, answer) \
  { #call ": " #error, &g_real.call, error, Mode::mode, answer, 0 }
#define REPORTED(call, error, mode, answer, cause) \
  { #call ": " #error, &g_real.call, error, Mode::mode, answer, win32::cause }
constexpr long long kBad = -1;  // INVALID_HANDLE_VALUE, INVALID_FILE_ATTRIBUTES
const Fault kFaults[] = {
    ROW(CreateFileW, ERROR_SHARING_VIOLATION, Fail, kBad),
    ROW(CreateFileW, ERROR_SHARING_VIOLATION, Held, kBad),
    ROW(CreateFileW, ERROR_ACCESS_DENIED, Fail, kBad),
    ROW(CreateFileW, ERROR_FILE_EXISTS, Fail, kBad),
    ROW(CreateFileW, ERROR_DISK_FULL, Fail, kBad),
    ROW(CreateFileW, ERROR_TOO_MANY_OPEN_FILES, Fail, kBad),
    ROW(GetFileType, ERROR_INVALID_HANDLE, Fail, FILE_TYPE_UNKNOWN),
    ROW(ReadFile, ERROR_LOCK_VIOLATION, Fail, FALSE),
    ROW(ReadFile, ERROR_CRC, Fail, FALSE),
    ROW(ReadFile, ERROR_SUCCESS, Short, FALSE),
    REPORTED(WriteFile, ERROR_DISK_FULL, Fail, FALSE, kDiskFull),
    REPORTED(WriteFile, ERROR_HANDLE_DISK_FULL, Fail, FALSE, kDiskFull),
    REPORTED(WriteFile, ERROR_LOCK_VIOLATION, Fail, FALSE, kLockViolation),
    REPORTED(WriteFile, ERROR_SUCCESS, Cut, FALSE, kDiskFull),
    ROW(SetFilePointerEx, ERROR_INVALID_PARAMETER, Fail, FALSE),
    REPORTED(SetFilePointerEx, ERROR_NEGATIVE_SEEK, Fail, FALSE, kBadSeek),
    REPORTED(GetFileSizeEx, ERROR_ACCESS_DENIED, Fail, FALSE, kAccessDenied),
    ROW(FlushFileBuffers, ERROR_INVALID_FUNCTION, Passing, FALSE),
    ROW(FlushFileBuffers, ERROR_NOT_SUPPORTED, Passing, FALSE),
    REPORTED(FlushFileBuffers, ERROR_DISK_FULL, Fail, FALSE, kDiskFull),
    ROW(CloseHandle, ERROR_HANDLE_DISK_FULL, Done, FALSE),
    ROW(GetFileInformationByHandleEx, ERROR_INVALID_PARAMETER, Fail, FALSE),
    ROW(GetFileInformationByHandleEx, ERROR_NOT_SUPPORTED, Fail, FALSE),
    ROW(GetFileInformationByHandleEx, ERROR_INVALID_PARAMETER, NoIdInfo, FALSE),
    ROW(SetFileInformationByHandle, ERROR_ACCESS_DENIED, Fail, FALSE),
    ROW(SetFileInformationByHandle, ERROR_FILE_EXISTS, Fail, FALSE),
    ROW(SetFileInformationByHandle, ERROR_ALREADY_EXISTS, Fail, FALSE),
    ROW(SetFileInformationByHandle, ERROR_NOT_SUPPORTED, Fail, FALSE),
    ROW(SetFileInformationByHandle, ERROR_INVALID_PARAMETER, Fail, FALSE),
    ROW(GetVolumeInformationByHandleW, ERROR_INVALID_FUNCTION, Fail, FALSE),
    ROW(GetFileAttributesW, ERROR_ACCESS_DENIED, Fail, kBad),
    ROW(DeleteFileW, ERROR_ACCESS_DENIED, Fail, FALSE),
    ROW(FindFirstFileExW, ERROR_ACCESS_DENIED, Fail, kBad),
    ROW(GetFullPathNameW, ERROR_FILENAME_EXCED_RANGE, Fail, 0),
    ROW(GetCurrentDirectoryW, ERROR_NOT_ENOUGH_MEMORY, Fail, 0),
    ROW(GetDriveTypeW, ERROR_PATH_NOT_FOUND, Fail, DRIVE_NO_ROOT_DIR),
    ROW(GetFinalPathNameByHandleW, ERROR_NOT_SUPPORTED, Fail, 0),
    ROW(GetFinalPathNameByHandleW, ERROR_PATH_NOT_FOUND, Fail, 0),
    ROW(GetVolumePathNameW, ERROR_INVALID_PARAMETER, Fail, FALSE),
    ROW(GlobalAlloc, ERROR_NOT_ENOUGH_MEMORY, Fail, 0),
    ROW(GlobalLock, ERROR_NOT_ENOUGH_MEMORY, Fail, 0),
};
#undef ROW
#undef REPORTED

struct Armed {
  const Fault* fault = nullptr;
  int nth = 0;
  int seen = 0;
  bool met = false;
} g_armed;

// Something another program does just before the backend's next flush.
void (*g_beforeFlush)() = nullptr;

std::vector<Launch> g_launches;
int g_openHandles = 0;

// The call's answer for a failure, in the call's own type.
template <typename R>
R Answer(long long value) {
  if constexpr (std::is_pointer_v<R>) {
    return reinterpret_cast<R>(static_cast<std::intptr_t>(value));
  } else {
    return static_cast<R>(value);
  }
}

// Half the count of a read or write; other calls have no short form.
template <typename F, typename... A>
auto Halved(F real, A... args) {
  return real(args...);
}
BOOL Halved(decltype(&::ReadFile) real, HANDLE f, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) {
  return real(f, b, n > 1 ? n / 2 : n, d, o);
}
BOOL Halved(decltype(&::WriteFile) real, HANDLE f, LPCVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) {
  return real(f, b, n > 1 ? n / 2 : n, d, o);
}

template <typename F, F SystemCalls::*Slot>
struct Hook;
template <typename R, typename... A, R (WINAPI* SystemCalls::*Slot)(A...)>
struct Hook<R(WINAPI*)(A...), Slot> {
  static R WINAPI Call(A... args) {
    const auto real = g_real.*Slot;
    const Fault* fault = g_armed.fault;
    if (!fault || fault->slot != &(g_real.*Slot) || ++g_armed.seen != g_armed.nth) {
      return real(args...);
    }
    g_armed.met = true;
    if (fault->mode == Mode::Short || fault->mode == Mode::Cut) return Halved(real, args...);
    if (fault->mode == Mode::Done) real(args...);
    ::SetLastError(fault->error);
    return Answer<R>(fault->answer);
  }
};

#define HOOK(call) os.call = Hook<decltype(os.call), &SystemCalls::call>::Call

HANDLE WINAPI CountedCreate(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                            DWORD disposition, DWORD flags, HANDLE model) {
  const bool held = g_armed.fault && g_armed.fault->mode == Mode::Held;
  const HANDLE file =
      held && (disposition != OPEN_EXISTING || share != 0)
          ? g_real.CreateFileW(name, access, share, security, disposition, flags, model)
          : Hook<decltype(os.CreateFileW), &SystemCalls::CreateFileW>::Call(
                name, access, share, security, disposition, flags, model);
  if (file != INVALID_HANDLE_VALUE) ++g_openHandles;
  return file;
}

BOOL WINAPI FileInformation(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
  const bool other = g_armed.fault && g_armed.fault->mode == Mode::NoIdInfo && kind != FileIdInfo;
  return other ? g_real.GetFileInformationByHandleEx(file, kind, info, size)
               : Hook<decltype(os.GetFileInformationByHandleEx),
                      &SystemCalls::GetFileInformationByHandleEx>::Call(file, kind, info, size);
}

BOOL WINAPI Flush(HANDLE file) {
  if (const auto action = g_beforeFlush) {
    g_beforeFlush = nullptr;
    action();
  }
  return Hook<decltype(os.FlushFileBuffers), &SystemCalls::FlushFileBuffers>::Call(file);
}

BOOL WINAPI CountedClose(HANDLE handle) {
  --g_openHandles;
  return Hook<decltype(os.CloseHandle), &SystemCalls::CloseHandle>::Call(handle);
}

// The launch is recorded, not made: what counts is what would have started.
BOOL WINAPI RecordLaunch(SHELLEXECUTEINFOW* info) {
  Launch launch{win32::Narrow(info->lpFile), {}};
  if (FILE* file = ::_wfopen(info->lpFile, L"rb")) {
    unsigned char block[4096];
    for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) {
      launch.bytes.insert(launch.bytes.end(), block, block + got);
    }
    std::fclose(file);
  }
  g_launches.push_back(launch);
  return TRUE;
}

}  // namespace

void Install() {
  g_real = os;
  os.CreateFileW = CountedCreate;
  os.CloseHandle = CountedClose;
  os.ShellExecuteExW = RecordLaunch;
  HOOK(GetFileType);
  HOOK(ReadFile);
  HOOK(WriteFile);
  HOOK(SetFilePointerEx);
  HOOK(GetFileSizeEx);
  os.FlushFileBuffers = Flush;
  os.GetFileInformationByHandleEx = FileInformation;
  HOOK(SetFileInformationByHandle);
  HOOK(GetVolumeInformationByHandleW);
  HOOK(GetFileAttributesW);
  HOOK(DeleteFileW);
  HOOK(FindFirstFileExW);
  HOOK(GetFullPathNameW);
  HOOK(GetCurrentDirectoryW);
  HOOK(GetDriveTypeW);
  HOOK(GetFinalPathNameByHandleW);
  HOOK(GetVolumePathNameW);
  HOOK(GlobalAlloc);
  HOOK(GlobalLock);
}

int Count() { return static_cast<int>(sizeof kFaults / sizeof kFaults[0]); }

std::string Name(int fault) {
  const std::string name = kFaults[fault].call;
  const std::string call = name.substr(0, name.find(':'));
  switch (kFaults[fault].mode) {
    case Mode::Short:
    case Mode::Cut:
      return call + ": short";
    case Mode::Held:
      return call + ": held for a moment";
    case Mode::NoIdInfo:
      return call + ": no 128-bit id";
    default:
      return name;
  }
}

bool Absorbed(int fault) {
  const Mode mode = kFaults[fault].mode;
  return mode == Mode::Short || mode == Mode::Held || mode == Mode::NoIdInfo ||
         mode == Mode::Passing;
}

void Arm(int fault, int nth) {
  g_armed = Armed{nth > 0 ? &kFaults[fault] : nullptr, nth, 0, false};
  g_launches.clear();
  g_openHandles = 0;
}

int Cause(int fault) { return kFaults[fault].cause; }

void BeforeFlush(void (*action)()) { g_beforeFlush = action; }

bool Met() { return g_armed.met; }

const std::vector<Launch>& Launches() { return g_launches; }

int OpenHandles() { return g_openHandles; }

bool ProcessErrorModeKept() { return ::GetErrorMode() == g_errorMode; }

}  // namespace faults
