// The Windows program's entry point: the framework's run is the whole
// program; the command line and the show state carry no meaning.
#include <windows.h>

// From platform/app.h, whose types clash with the system's header.
int AfxWinMain();

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return AfxWinMain(); }
