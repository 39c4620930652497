// What every backend's files do alike: closing on destruction, and the
// quiet close that ignores what the system says.
#include "platform/file.h"

CFile::~CFile() { Abort(); }

void CFile::Abort() {
  // Also on the way out of a failed read or a lack of memory, where the
  // close's own report cannot be had either: a destructor must not throw.
  try {
    Close();
  } catch (...) {
  }
}

CNewFile::~CNewFile() { Discard(); }
