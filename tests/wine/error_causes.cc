// error_causes: the Windows backend's table from system error codes to file
// exception causes, code by code, run under Wine by run_wine_tests.sh. Prints
// each code that maps wrongly, then a summary line; exits 1 on any mistake.
#include <windows.h>

#include <cstdio>

#include "platform/win32/win32_api.h"

namespace {

struct Case {
  unsigned long code;
  win32::FileErrorCause cause;
  const char* name;
};

#define CASE(code, cause) \
  { code, win32::cause, #code }

constexpr Case kCases[] = {
    CASE(ERROR_FILE_NOT_FOUND, kFileNotFound),
    CASE(ERROR_INVALID_HANDLE, kFileNotFound),
    CASE(ERROR_NO_MORE_FILES, kFileNotFound),
    CASE(ERROR_DISK_CHANGE, kFileNotFound),
    CASE(ERROR_PATH_NOT_FOUND, kBadPath),
    CASE(ERROR_INVALID_DRIVE, kBadPath),
    CASE(ERROR_NOT_SAME_DEVICE, kBadPath),
    CASE(ERROR_WRONG_DISK, kBadPath),
    CASE(ERROR_BAD_NETPATH, kBadPath),
    CASE(ERROR_BAD_NET_NAME, kBadPath),
    CASE(ERROR_INVALID_NAME, kBadPath),
    CASE(ERROR_BAD_PATHNAME, kBadPath),
    CASE(ERROR_FILENAME_EXCED_RANGE, kBadPath),
    CASE(ERROR_DIRECTORY, kBadPath),
    CASE(ERROR_TOO_MANY_OPEN_FILES, kTooManyOpenFiles),
    CASE(ERROR_NO_MORE_SEARCH_HANDLES, kTooManyOpenFiles),
    CASE(ERROR_SHARING_BUFFER_EXCEEDED, kTooManyOpenFiles),
    CASE(ERROR_ACCESS_DENIED, kAccessDenied),
    CASE(ERROR_WRITE_PROTECT, kAccessDenied),
    CASE(ERROR_WRITE_FAULT, kAccessDenied),
    CASE(ERROR_NETWORK_BUSY, kAccessDenied),
    CASE(ERROR_NETWORK_ACCESS_DENIED, kAccessDenied),
    CASE(ERROR_FILE_EXISTS, kAccessDenied),
    CASE(ERROR_ALREADY_EXISTS, kAccessDenied),
    CASE(ERROR_CANNOT_MAKE, kAccessDenied),
    CASE(ERROR_BUSY, kAccessDenied),
    CASE(ERROR_NOT_DOS_DISK, kInvalidFile),
    CASE(ERROR_BAD_EXE_FORMAT, kInvalidFile),
    CASE(ERROR_BAD_DEV_TYPE, kInvalidFile),
    CASE(ERROR_CURRENT_DIRECTORY, kRemoveCurrentDir),
    CASE(ERROR_DIR_NOT_EMPTY, kRemoveCurrentDir),
    CASE(ERROR_PRINTQ_FULL, kDirectoryFull),
    CASE(ERROR_NO_SPOOL_SPACE, kDirectoryFull),
    CASE(ERROR_SEEK, kBadSeek),
    CASE(ERROR_SECTOR_NOT_FOUND, kBadSeek),
    CASE(ERROR_READ_FAULT, kBadSeek),
    CASE(ERROR_NEGATIVE_SEEK, kBadSeek),
    CASE(ERROR_SEEK_ON_DEVICE, kBadSeek),
    CASE(ERROR_BAD_LENGTH, kBadSeek),
    CASE(ERROR_NOT_READY, kHardIO),
    CASE(ERROR_BAD_UNIT, kHardIO),
    CASE(ERROR_BAD_COMMAND, kHardIO),
    CASE(ERROR_CRC, kHardIO),
    CASE(ERROR_ADAP_HDW_ERR, kHardIO),
    CASE(ERROR_BAD_NET_RESP, kHardIO),
    CASE(ERROR_UNEXP_NET_ERR, kHardIO),
    CASE(ERROR_NET_WRITE_FAULT, kHardIO),
    CASE(ERROR_OPERATION_ABORTED, kHardIO),
    CASE(ERROR_IO_INCOMPLETE, kHardIO),
    CASE(ERROR_SHARING_VIOLATION, kSharingViolation),
    CASE(ERROR_LOCK_VIOLATION, kLockViolation),
    CASE(ERROR_DRIVE_LOCKED, kLockViolation),
    CASE(ERROR_LOCK_FAILED, kLockViolation),
    CASE(ERROR_HANDLE_DISK_FULL, kDiskFull),
    CASE(ERROR_DISK_FULL, kDiskFull),
    CASE(ERROR_HANDLE_EOF, kEndOfFile),
    // Devices that are gone, quotas, and cloud files whose provider cannot
    // deliver them, one or two of each cause; the newer codes by number.
    CASE(ERROR_DEV_NOT_EXIST, kHardIO),
    CASE(ERROR_NO_MEDIA_IN_DRIVE, kHardIO),
    CASE(ERROR_DEVICE_NOT_CONNECTED, kHardIO),
    CASE(ERROR_FILE_TOO_LARGE, kDiskFull),
    {433, win32::kHardIO, "ERROR_NO_SUCH_DEVICE"},
    {1295, win32::kDiskFull, "ERROR_DISK_QUOTA_EXCEEDED"},
    {362, win32::kHardIO, "ERROR_CLOUD_FILE_PROVIDER_NOT_RUNNING"},
    {381, win32::kAccessDenied, "ERROR_CLOUD_FILE_READ_ONLY_VOLUME"},
    {388, win32::kHardIO, "ERROR_CLOUD_FILE_NETWORK_UNAVAILABLE"},
    {391, win32::kSharingViolation, "ERROR_CLOUD_FILE_IN_USE"},
    {395, win32::kAccessDenied, "ERROR_CLOUD_FILE_ACCESS_DENIED"},
    {397, win32::kLockViolation, "ERROR_CLOUD_FILE_PROPERTY_LOCK_CONFLICT"},
    {404, win32::kHardIO, "ERROR_CLOUD_FILE_PROVIDER_TERMINATED"},
    // Any code not listed is an unknown error.
    CASE(ERROR_INVALID_FUNCTION, kGenericError),
    CASE(ERROR_NOT_ENOUGH_MEMORY, kGenericError),
};

}  // namespace

int main() {
  int wrong = 0;
  for (const Case& c : kCases) {
    const int cause = win32::FileErrorCauseOf(c.code);
    if (cause != c.cause) {
      std::printf("%s (%lu): cause %d, expected %d\n", c.name, c.code, cause, c.cause);
      ++wrong;
    }
  }
  const int count = static_cast<int>(sizeof kCases / sizeof kCases[0]);
  std::printf("%d of %d system error codes map to their file exception causes\n", count - wrong,
              count);
  return wrong == 0 ? 0 : 1;
}
