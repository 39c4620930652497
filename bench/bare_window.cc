// The least a GTK program does to show a window: the baseline of the
// program's start-up. Any key ends it.
#include <gtk/gtk.h>

int main(int argc, char** argv) {
  gtk_init(&argc, &argv);
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), "bare");
  gtk_container_add(GTK_CONTAINER(window), gtk_button_new_with_label("OK"));
  g_signal_connect(window, "key-press-event", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
