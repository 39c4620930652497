// Choices of the POSIX file backend that its tests make, and the causes it
// gives system errors.
#pragma once

namespace posix {

// The file exception cause (CFileException::Cause) for a system error number.
int FileErrorCause(int error);

// New files are written under a temporary name and renamed at the end, as on
// a file system without unnamed files, instead of being linked in from an
// unnamed file.
void UseNamedTemporaries(bool named);

// Blocks are copied inside the kernel where it can (the default), or always
// read into the buffer and written from it, as where the kernel refuses.
// Either way the next block starts on a new pipe, as the first one does.
void UseKernelCopy(bool kernel);

}  // namespace posix
