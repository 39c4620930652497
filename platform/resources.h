// The program's resources as portable data: backends without a resource
// section of their own (the GTK one and the fake) build their windows from
// these. The program provides them (ui/).
#pragma once

#include <cstddef>

#include "platform/types.h"

// Window and control styles, with the values the resource compiler uses.
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_GROUP = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD DS_MODALFRAME = 0x00000080;
constexpr DWORD DS_SETFONT = 0x00000040;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;
constexpr DWORD BS_PUSHBUTTON = 0x00000000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x00000001;
constexpr DWORD SS_LEFT = 0x00000000;

struct DialogControl {
  enum Kind { Button, Static };
  UINT id;
  Kind kind;
  const char* text;  // UTF-8; a line feed breaks the line
  int x, y, cx, cy;  // dialog units
  DWORD style;
};

struct DialogTemplate {
  UINT id;
  const char* caption;
  const char* fontName;
  int pointSize;
  int x, y, cx, cy;  // dialog units
  DWORD style;
  DWORD exStyle;
  const DialogControl* controls;  // in tab order
  std::size_t controlCount;
};

struct IconData {
  const unsigned char* bytes;  // an .ico file holding every size
  std::size_t size;
};

// The dialog template with this identifier, or null.
const DialogTemplate* FindDialogTemplate(UINT id);
// The icon with this identifier; empty when there is none.
IconData FindIconData(UINT id);
