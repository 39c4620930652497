// The join's progress window on GTK 3: the caption, one line naming the
// output, a bar and a Cancel button. It runs no loop of its own: each update
// handles what is pending and returns to the join.
#include "platform/backend.h"
#include "platform/posix/gui_gtk_icon.h"
#include "platform/progress_backend.h"
#include "ui/resource.h"
// After the framework's headers: GLib defines TRUE and FALSE as macros.
#include <gtk/gtk.h>

namespace {

constexpr const char* kCancelLabel = "キャンセル";
// Wide enough for the line of a usual output name; a longer one is cut in
// the middle on screen and read whole by assistive technologies.
constexpr int kContentWidth = 360;
// Events handled per update at most: a flood of them must not hold up the
// join, which comes back within a block's time anyway.
constexpr int kMaxEventsPerUpdate = 256;

struct ProgressWindow {
  GtkWidget* window = nullptr;
  GtkWidget* bar = nullptr;
  bool stopped = false;
};

void OnCancelClicked(GtkButton*, gpointer data) {
  static_cast<ProgressWindow*>(data)->stopped = true;
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  static_cast<ProgressWindow*>(data)->stopped = true;
  return TRUE;
}

// The close button asks to stop; the joiner takes the window down.
gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  static_cast<ProgressWindow*>(data)->stopped = true;
  return TRUE;
}

// A window destroyed from outside is a request to stop, too.
void OnDestroy(GtkWidget*, gpointer data) {
  ProgressWindow* progress = static_cast<ProgressWindow*>(data);
  progress->window = nullptr;
  progress->stopped = true;
}

void HandlePendingEvents() {
  for (int i = 0; i < kMaxEventsPerUpdate && g_main_context_pending(nullptr); ++i) {
    g_main_context_iteration(nullptr, FALSE);
  }
}

}  // namespace

namespace platform {

std::uint64_t TickCount() { return static_cast<std::uint64_t>(g_get_monotonic_time() / 1000); }

void* CreateProgressWindow(const std::string& caption, const std::string& text) {
  // The confirmation dialog has been shown, so the display is open; without
  // one there is nothing to show the progress on.
  if (!gdk_display_get_default()) return nullptr;
  ProgressWindow* progress = new ProgressWindow;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  progress->window = window;
  gtk_window_set_title(GTK_WINDOW(window), caption.c_str());
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  // The program's icon, as the dialog shows it, for the task bar.
  if (const IconResource* icon = platform::LoadIconResource(IDR_MAINFRAME)) {
    GList* images = g_list_append(g_list_append(nullptr, icon->large), icon->small);
    gtk_window_set_icon_list(GTK_WINDOW(window), images);
    g_list_free(images);
  }

  GtkWidget* column = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(column), 12);
  gtk_widget_set_size_request(column, kContentWidth, -1);
  GtkWidget* label = gtk_label_new(text.c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
  gtk_box_pack_start(GTK_BOX(column), label, FALSE, FALSE, 0);
  progress->bar = gtk_progress_bar_new();
  gtk_box_pack_start(GTK_BOX(column), progress->bar, FALSE, FALSE, 0);
  GtkWidget* cancel = gtk_button_new_with_label(kCancelLabel);
  gtk_widget_set_halign(cancel, GTK_ALIGN_END);
  gtk_box_pack_start(GTK_BOX(column), cancel, FALSE, FALSE, 4);
  gtk_container_add(GTK_CONTAINER(window), column);

  g_signal_connect(cancel, "clicked", G_CALLBACK(OnCancelClicked), progress);
  g_signal_connect(window, "key-press-event", G_CALLBACK(OnKeyPress), progress);
  g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), progress);
  g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), progress);
  gtk_widget_show_all(window);
  gtk_widget_grab_focus(cancel);
  HandlePendingEvents();
  return progress;
}

bool UpdateProgressWindow(void* window, std::uint64_t done, std::uint64_t total) {
  ProgressWindow* progress = static_cast<ProgressWindow*>(window);
  if (progress->window) {
    const double fraction =
        total == 0 || done >= total ? 1.0 : static_cast<double>(done) / static_cast<double>(total);
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(progress->bar), fraction);
    HandlePendingEvents();
  }
  return !progress->stopped;
}

void DestroyProgressWindow(void* window) {
  ProgressWindow* progress = static_cast<ProgressWindow*>(window);
  if (progress->window) {
    g_signal_handlers_disconnect_by_data(progress->window, progress);
    gtk_widget_destroy(progress->window);
    // Off the screen before a message or the installer comes up.
    gdk_display_flush(gdk_display_get_default());
  }
  delete progress;
}

}  // namespace platform
