// The program's entry: the framework runs the application object.
#include "platform/app.h"

int main() { return AfxWinMain(); }
