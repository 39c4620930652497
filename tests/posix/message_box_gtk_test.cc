// The message box in a real GTK window, read back from inside the process
// while the box waits: what only the window itself shows. Run under a
// virtual X server of its own.
#include <gtest/gtest.h>

#include "platform/backend.h"
// After the framework's headers: GLib defines TRUE and FALSE as macros.
#include <gtk/gtk.h>

namespace {

struct ShownBox {
  bool found = false;
  bool keptAbove = false;
};

// Reads the box once it is mapped, then answers it as the user would.
gboolean ReadAndDismiss(gpointer data) {
  ShownBox* shown = static_cast<ShownBox*>(data);
  GList* windows = gtk_window_list_toplevels();
  for (GList* item = windows; item; item = item->next) {
    GtkWidget* window = GTK_WIDGET(item->data);
    if (!GTK_IS_MESSAGE_DIALOG(window) || !gtk_widget_get_mapped(window)) continue;
    shown->found = true;
    shown->keptAbove =
        (gdk_window_get_state(gtk_widget_get_window(window)) & GDK_WINDOW_STATE_ABOVE) != 0;
    gtk_dialog_response(GTK_DIALOG(window), GTK_RESPONSE_OK);
  }
  g_list_free(windows);
  return shown->found ? G_SOURCE_REMOVE : G_SOURCE_CONTINUE;
}

TEST(MessageBoxGtk, OnlyASystemModalBoxIsKeptAboveOtherWindows) {
  const struct {
    UINT type;
    bool keptAbove;
  } cases[] = {
      {MB_ICONEXCLAMATION | MB_SYSTEMMODAL, true},
      {MB_ICONEXCLAMATION, false},
      {MB_ICONSTOP, false},
  };
  for (const auto& c : cases) {
    ShownBox shown;
    g_timeout_add(20, ReadAndDismiss, &shown);
    EXPECT_EQ(platform::ShowMessageBox(nullptr, "text", "NWD4_322", c.type), IDOK);
    ASSERT_TRUE(shown.found) << "no box was shown for type " << c.type;
    EXPECT_EQ(shown.keptAbove, c.keptAbove) << "type " << c.type;
  }
}

}  // namespace
