// help_stub: stands in for the winhlp32.exe of Windows 10 and later, which
// only says that it shows no help. Its version record is the system's.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  MessageBoxW(nullptr, L"This help format is not supported.", L"help stub", MB_OK);
  return 0;
}
