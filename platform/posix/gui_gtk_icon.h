// The program icon as GTK wants it: one picture per size.
#pragma once

#include "platform/resources.h"
// After the framework's headers: GLib defines TRUE and FALSE as macros.
#include <gdk-pixbuf/gdk-pixbuf.h>

// What an HICON points to on this system. The pictures belong to the icon.
struct IconResource {
  GdkPixbuf* large = nullptr;  // the image of the system's icon size
  GdkPixbuf* small = nullptr;  // the image of half that size
};

// Loads every image of an .ico file and picks the large and the small one:
// the image of exactly that size if there is one, else the nearest. FALSE
// when no image could be loaded.
bool LoadIconImages(const IconData& data, int largeSize, IconResource& icon);
