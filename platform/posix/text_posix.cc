// Shift-JIS decoding through iconv, named explicitly so that the process's
// locale never matters.
#include <iconv.h>

#include <cerrno>
#include <string>

#include "platform/system.h"

BOOL DecodeCodePage932(const char* bytes, std::size_t length, std::string& utf8) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return FALSE;
  std::string out(length * 3 + 4, '\0');
  char* in = const_cast<char*>(bytes);
  std::size_t inLeft = length;
  char* outPtr = &out[0];
  std::size_t outLeft = out.size();
  const std::size_t result = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1) || inLeft != 0) return FALSE;
  out.resize(out.size() - outLeft);
  utf8 = std::move(out);
  return TRUE;
}
