// What each backend provides to the portable framework code, besides the
// member functions of CFile, CGlobalBuffer, CWnd and CPaintDC and the
// services of system.h. The logic never includes this header.
#pragma once

#include <string>

#include "platform/types.h"

class CDialog;
class CWnd;

namespace platform {

// Once per process, before anything else: the system shows no error boxes
// of its own.
void InitProcess();

// Creates the dialog's window from its template without an owner, calls
// OnInitDialog, runs the modal loop until EndDialog, destroys the window.
// Returns the result, or -1 when the window cannot be made.
INT_PTR RunModalDialog(CDialog& dialog);

// Shows one message box and waits until it is dismissed.
int ShowMessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type);

// Starts the help viewer on a topic of a help file; FALSE if it cannot.
BOOL StartHelpViewer(const std::string& helpFile, DWORD context);

// Loads one of the program's icons; null when there is none.
HICON LoadIconResource(UINT id);

}  // namespace platform
