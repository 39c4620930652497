// Identifiers of the program's resources and controls, shared by the code
// and the Windows resource script.
#pragma once

#define IDD_JOIN 102
#define IDD_JOIN_PROGRESS 103
#define IDR_MAINFRAME 128
#define IDC_INTRO_TEXT 1001
#define IDC_GUIDE_TEXT 1002
#define IDC_PROGRESS_TEXT 1003
#define IDC_PROGRESS_BAR 1004
