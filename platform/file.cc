// What every backend's files do alike: closing on destruction, and the
// quiet close that ignores what the system says.
#include "platform/file.h"

CFile::~CFile() { Abort(); }

void CFile::Abort() {
  try {
    Close();
  } catch (const CFileException&) {
  }
}

CNewFile::~CNewFile() { Discard(); }
