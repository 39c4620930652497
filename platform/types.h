// Basic types and constants of the framework layer. They keep the names and
// values of the desktop framework the program was designed against, so the
// logic reads like the design and the Windows backend passes them through.
#pragma once

#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using INT_PTR = std::intptr_t;
using DWORD = std::uint32_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Dialog results and command identifiers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr UINT ID_HELP = 0xE146;

// Message box types.
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_ICONSTOP = 0x00000010;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONMASK = 0x000000F0;
constexpr UINT MB_SYSTEMMODAL = 0x00001000;

// Drive types, as the system reports them for the working folder.
constexpr UINT DRIVE_UNKNOWN = 0;
constexpr UINT DRIVE_NO_ROOT_DIR = 1;
constexpr UINT DRIVE_REMOVABLE = 2;
constexpr UINT DRIVE_FIXED = 3;
constexpr UINT DRIVE_REMOTE = 4;
constexpr UINT DRIVE_CDROM = 5;
constexpr UINT DRIVE_RAMDISK = 6;

// Window messages and metrics the confirmation dialog uses.
constexpr UINT WM_ICONERASEBKGND = 0x0027;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;

// Context numbers of the help viewer: a dialog's topic is this base plus
// its template number.
constexpr DWORD HID_BASE_RESOURCE = 0x00020000;
constexpr UINT HELP_CONTEXT = 0x0001;

// An icon loaded from the program's resources; its layout is the backend's.
struct IconResource;
using HICON = IconResource*;

struct CRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};
