// zone_check: the Windows backend's marks of the web, run under Wine by
// run_wine_tests.sh. Wine keeps a file's Zone.Identifier stream as a file of
// its own beside it ("NAME:Zone.Identifier"), so the tests can plant marks
// and read them back. Prints the zone each source gives and the one a file
// made of them all would carry (-1: none); with an output given, writes that
// zone's mark onto it.
//   zone_check [--write OUTPUT] SOURCE...
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/win32_api.h"

int wmain(int argc, wchar_t** argv) {
  int first = 1;
  std::string output;
  if (argc > 2 && std::wstring(argv[1]) == L"--write") {
    output = win32::Narrow(argv[2]);
    first = 3;
  }
  int least = win32::kNoZone;
  for (int i = first; i < argc; ++i) {
    const int zone = win32::ZoneOf(win32::Narrow(argv[i]));
    std::printf("%d ", zone);
    if (zone > least) least = zone;
  }
  std::printf("-> %d\n", least);
  if (!output.empty() && least != win32::kNoZone) {
    const unsigned long error = win32::WriteZone(output, least);
    if (error != 0) std::printf("write error %lu\n", error);
  }
  return 0;
}
