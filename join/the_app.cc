#include "join/join_app.h"

// The one application object; the framework finds it when the run starts.
CJoinApp theApp;
