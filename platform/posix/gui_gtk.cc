// The framework's windows on GTK 3: the modal dialog built from its template
// in dialog units, message boxes, and the program icon. Without a display the
// dialog cannot be shown and messages go to the standard error stream, as
// does the reason why.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <map>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/dialog.h"
#include "platform/posix/display_posix.h"
#include "platform/posix/gui_gtk_icon.h"
#include "platform/resources.h"
#include "platform/system.h"
#include "platform/window.h"
// After the framework's headers: GLib defines TRUE and FALSE as macros.
#include <gtk/gtk.h>

namespace {

// The size the system gives a large icon; the small one is half of it.
constexpr int kIconSize = 32;

constexpr const char* kDialogWidgetName = "nwd-dialog";
constexpr const char* kMessageTextName = "nwd-message-text";
constexpr const char* kBigIconKey = "nwd-icon-big";
constexpr const char* kSmallIconKey = "nwd-icon-small";

// The template's font is a Windows font; these Japanese gothic faces stand in
// for it, the proportional one first because the template's is proportional.
constexpr const char* kFontSubstitutes[] = {"IPAPGothic", "IPAGothic", "Noto Sans CJK JP",
                                            "Source Han Sans JP"};

bool HaveDisplay() {
  static const bool available = [] {
    // The run must not behave differently depending on whether a display
    // was found, so GTK leaves the process's locale alone.
    gtk_disable_setlocale();
    std::string name = GetProgramFileName();
    const std::string::size_type dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    g_set_prgname(name.c_str());
    // Nothing here is drawn with OpenGL, yet GDK asks the X server about it
    // while it starts, which loads the whole GL stack (a software renderer
    // and its compiler): two thirds of the process's memory, and much of
    // its start and its exit. GDK reads the switch only while it starts,
    // and the program that is launched later must not inherit it; no other
    // thread runs yet.
    const bool switchGl = g_getenv("GDK_GL") == nullptr;
    if (switchGl) g_setenv("GDK_GL", "disable", TRUE);
    const bool initialised = gtk_init_check(nullptr, nullptr) != FALSE;
    if (switchGl) g_unsetenv("GDK_GL");
    return initialised;
  }();
  return available;
}

// --- dialog units ---

bool FontFamilyExists(const char* family) {
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(pango_cairo_font_map_get_default(), &families, &count);
  bool found = false;
  for (int i = 0; i < count && !found; ++i) {
    found = g_ascii_strcasecmp(pango_font_family_get_name(families[i]), family) == 0;
  }
  g_free(families);
  return found;
}

std::string DialogFontFamily(const char* templateFont) {
  if (templateFont && FontFamilyExists(templateFont)) return templateFont;
  for (const char* family : kFontSubstitutes) {
    if (FontFamilyExists(family)) return family;
  }
  return "Sans";
}

// The dialog base units of a font as the system derives them: the average
// width of the Latin letters, rounded, and the height of a line.
struct BaseUnits {
  int cx;
  int cy;
};

BaseUnits MeasureBaseUnits(const std::string& family, int pointSize) {
  PangoContext* context = gdk_pango_context_get();
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, family.c_str());
  pango_font_description_set_size(font, pointSize * PANGO_SCALE);
  PangoLayout* layout = pango_layout_new(context);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
  int width = 0;
  int height = 0;
  pango_layout_get_pixel_size(layout, &width, &height);
  g_object_unref(layout);
  pango_font_description_free(font);
  g_object_unref(context);
  return {(width / 26 + 1) / 2, height};
}

// a * b / c, rounded half away from zero.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

void AddStyle(const std::string& css) {
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css.c_str(), -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);
}

// The dialog's font for the dialog and everything in it, and push buttons
// as small as the template draws them: the theme's padding would make them
// taller than their rectangles.
void InstallDialogStyle(const std::string& family, int pointSize) {
  static bool installed = false;
  if (installed) return;
  installed = true;
  AddStyle(std::string("#") + kDialogWidgetName + ", #" + kDialogWidgetName +
           " * { font-family: \"" + family + "\"; font-size: " + std::to_string(pointSize) +
           "pt; }\n#" + kDialogWidgetName +
           " button { padding: 0 4px; min-height: 0; min-width: 0; }\n");
}

// --- the modal dialog ---

struct ModalState {
  CDialog* dialog = nullptr;
  GtkWidget* window = nullptr;
  GMainLoop* loop = nullptr;
  std::vector<GtkWidget*> tabStops;  // in template order
  bool inHandler = false;            // the initialisation or a command is running
  std::exception_ptr error;
};

constexpr const char* kControlIdKey = "nwd-control-id";

void QuitIfDone(ModalState* state) {
  if (state->dialog->IsEnded() || state->error || !state->window) g_main_loop_quit(state->loop);
}

// A command runs to its end before the next one: while a handler's message
// box is up, the dialog takes none (the box's grab keeps the keyboard and
// mouse away; this keeps out everything else, such as accessibility
// actions). An exception the framework did not handle must not unwind
// through GTK: it ends the loop and is raised again once the window is gone.
void RunCommand(ModalState* state, UINT id) {
  if (state->inHandler || state->dialog->IsEnded() || state->error) return;
  state->inHandler = true;
  try {
    state->dialog->OnCommand(id);
  } catch (...) {
    state->error = std::current_exception();
  }
  state->inHandler = false;
  QuitIfDone(state);
}

void OnButtonClicked(GtkButton* button, gpointer data) {
  const UINT id = GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(button), kControlIdKey));
  RunCommand(static_cast<ModalState*>(data), id);
}

gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  ModalState* state = static_cast<ModalState*>(data);
  constexpr guint modifiers = GDK_SHIFT_MASK | GDK_CONTROL_MASK | GDK_MOD1_MASK;
  if (event->keyval == GDK_KEY_Escape) {
    RunCommand(state, IDCANCEL);
    return TRUE;
  }
  if (event->keyval == GDK_KEY_F1 && (event->state & modifiers) == 0) {
    RunCommand(state, ID_HELP);
    return TRUE;
  }
  return FALSE;
}

gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  RunCommand(static_cast<ModalState*>(data), IDCANCEL);
  return TRUE;  // the dialog decides when its window goes
}

// Tab and Shift+Tab follow the template's order of tab stops, not the
// positions of the controls.
gboolean OnFocus(GtkWidget* window, GtkDirectionType direction, gpointer data) {
  if (direction != GTK_DIR_TAB_FORWARD && direction != GTK_DIR_TAB_BACKWARD) return FALSE;
  const ModalState* state = static_cast<const ModalState*>(data);
  std::vector<GtkWidget*> stops;
  for (GtkWidget* widget : state->tabStops) {
    if (gtk_widget_is_sensitive(widget) && gtk_widget_get_visible(widget)) stops.push_back(widget);
  }
  if (stops.empty()) return FALSE;
  const GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(window));
  std::size_t next = direction == GTK_DIR_TAB_FORWARD ? 0 : stops.size() - 1;
  for (std::size_t i = 0; i < stops.size(); ++i) {
    if (stops[i] != focus) continue;
    next = direction == GTK_DIR_TAB_FORWARD ? (i + 1) % stops.size()
                                            : (i + stops.size() - 1) % stops.size();
  }
  gtk_widget_grab_focus(stops[next]);
  return TRUE;
}

gboolean OnDraw(GtkWidget*, cairo_t*, gpointer data) {
  static_cast<ModalState*>(data)->dialog->OnPaint();
  return FALSE;  // GTK draws the window and its controls as usual
}

// The window can go without the dialog ending it, when something outside
// destroys it; that ends the dialog as a close request would.
void OnDestroy(GtkWidget*, gpointer data) {
  ModalState* state = static_cast<ModalState*>(data);
  state->window = nullptr;
  state->dialog->m_hWnd = nullptr;
  if (!state->dialog->IsEnded()) state->dialog->EndDialog(IDCANCEL);
  if (!state->inHandler) g_main_loop_quit(state->loop);
}

void OnRealize(GtkWidget* window, gpointer) {
  // A modal frame with a system menu: the window can be moved and closed,
  // not resized, minimised or maximised.
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  gdk_window_set_functions(gdkWindow, static_cast<GdkWMFunction>(GDK_FUNC_MOVE | GDK_FUNC_CLOSE));
  gdk_window_set_decorations(
      gdkWindow, static_cast<GdkWMDecoration>(GDK_DECOR_BORDER | GDK_DECOR_TITLE | GDK_DECOR_MENU));
}

GtkWidget* CreateControl(const DialogControl& control, ModalState* state) {
  if (control.kind == DialogControl::Button) {
    GtkWidget* button = gtk_button_new_with_label(control.text);
    g_object_set_data(G_OBJECT(button), kControlIdKey, GUINT_TO_POINTER(control.id));
    g_signal_connect(button, "clicked", G_CALLBACK(OnButtonClicked), state);
    if (control.style & BS_DEFPUSHBUTTON) {
      gtk_widget_set_can_default(button, TRUE);
      // GTK marks the default button with the "default" class, which the
      // default theme does not draw; its mark for the action that Enter
      // takes is this one.
      gtk_style_context_add_class(gtk_widget_get_style_context(button),
                                  GTK_STYLE_CLASS_SUGGESTED_ACTION);
    }
    return button;
  }
  GtkWidget* label = gtk_label_new(control.text);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_LEFT);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(label), PANGO_WRAP_WORD_CHAR);
  return label;
}

// Centred in the work area of the primary monitor, and kept inside it at the
// left and top when it does not fit.
void CentreInWorkArea(GtkWidget* window) {
  GdkDisplay* display = gtk_widget_get_display(window);
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  if (!monitor) return;
  GdkRectangle area;
  gdk_monitor_get_workarea(monitor, &area);
  GtkRequisition size;
  gtk_widget_get_preferred_size(window, nullptr, &size);
  int x = (area.x + area.x + area.width) / 2 - size.width / 2;
  int y = (area.y + area.y + area.height) / 2 - size.height / 2;
  if (x < area.x) x = area.x;
  if (y < area.y) y = area.y;
  gtk_window_move(GTK_WINDOW(window), x, y);
}

GtkWidget* CreateDialogWindow(const DialogTemplate& tpl, ModalState* state) {
  const std::string family = DialogFontFamily(tpl.fontName);
  const BaseUnits units = MeasureBaseUnits(family, tpl.pointSize);
  InstallDialogStyle(family, tpl.pointSize);
  const auto toX = [&](int dlu) { return MulDiv(dlu, units.cx, 4); };
  const auto toY = [&](int dlu) { return MulDiv(dlu, units.cy, 8); };

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_widget_set_name(window, kDialogWidgetName);
  gtk_window_set_title(GTK_WINDOW(window), tpl.caption);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
  // Its own entry in the task bar, although it is a dialog.
  gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), (tpl.exStyle & WS_EX_APPWINDOW) == 0);
  g_signal_connect(window, "realize", G_CALLBACK(OnRealize), nullptr);

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, toX(tpl.cx), toY(tpl.cy));
  gtk_container_add(GTK_CONTAINER(window), fixed);
  GtkWidget* defaultButton = nullptr;
  for (std::size_t i = 0; i < tpl.controlCount; ++i) {
    const DialogControl& control = tpl.controls[i];
    GtkWidget* widget = CreateControl(control, state);
    gtk_widget_set_size_request(widget, toX(control.cx), toY(control.cy));
    gtk_fixed_put(GTK_FIXED(fixed), widget, toX(control.x), toY(control.y));
    if (control.style & WS_TABSTOP) state->tabStops.push_back(widget);
    if (control.kind == DialogControl::Button && (control.style & BS_DEFPUSHBUTTON) &&
        !defaultButton) {
      defaultButton = widget;
    }
  }
  if (defaultButton) gtk_window_set_default(GTK_WINDOW(window), defaultButton);

  g_signal_connect(window, "key-press-event", G_CALLBACK(OnKeyPress), state);
  g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), state);
  g_signal_connect(window, "focus", G_CALLBACK(OnFocus), state);
  g_signal_connect(window, "draw", G_CALLBACK(OnDraw), state);
  g_signal_connect(window, "destroy", G_CALLBACK(OnDestroy), state);
  return window;
}

// --- message boxes ---

const char* MessageIconName(UINT type) {
  switch (type & MB_ICONMASK) {
    case 0x10:
      return "dialog-error";
    case 0x20:
      return "dialog-question";
    case 0x30:
      return "dialog-warning";
    case 0x40:
      return "dialog-information";
    default:
      return nullptr;
  }
}

// One block in as few writes as the system allows, so that the messages of
// two processes do not interleave.
void WriteToStandardError(const std::string& caption, const std::string& text) {
  const std::string block = caption + ": " + text + "\n";
  std::string::size_type done = 0;
  while (done < block.size()) {
    const ssize_t put = ::write(STDERR_FILENO, block.data() + done, block.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    done += static_cast<std::string::size_type>(put);
  }
}

}  // namespace

// --- windows ---

BOOL CWnd::IsIconic() const {
  if (!m_hWnd) return FALSE;
  GdkWindow* window = gtk_widget_get_window(static_cast<GtkWidget*>(m_hWnd));
  return window && (gdk_window_get_state(window) & GDK_WINDOW_STATE_ICONIFIED) ? TRUE : FALSE;
}

// GTK keeps one list of icons per window and picks the size it needs: the
// big icon's large image and the small icon's small image go into it.
void CWnd::SetIcon(HICON icon, BOOL bigIcon) {
  if (!m_hWnd) return;
  GObject* window = G_OBJECT(m_hWnd);
  GdkPixbuf* image = icon ? (bigIcon ? icon->large : icon->small) : nullptr;
  g_object_set_data(window, bigIcon ? kBigIconKey : kSmallIconKey, image);
  GList* images = nullptr;
  for (const char* key : {kBigIconKey, kSmallIconKey}) {
    if (void* pixbuf = g_object_get_data(window, key)) images = g_list_append(images, pixbuf);
  }
  gtk_window_set_icon_list(GTK_WINDOW(m_hWnd), images);
  g_list_free(images);
}

void CWnd::GetClientRect(CRect* rect) const {
  *rect = CRect{};
  if (!m_hWnd) return;
  GtkAllocation allocation;
  gtk_widget_get_allocation(static_cast<GtkWidget*>(m_hWnd), &allocation);
  rect->right = allocation.width;
  rect->bottom = allocation.height;
}

// GTK erases and paints its windows itself; there is nothing to pass on.
std::intptr_t CWnd::SendMessage(UINT, std::uintptr_t, std::intptr_t) { return 0; }

CPaintDC::CPaintDC(CWnd*) {}

CPaintDC::~CPaintDC() = default;

// A minimised window is not drawn on this system: the window manager shows
// the window's icon list instead.
void CPaintDC::DrawIcon(int, int, HICON) {}

int GetSystemMetrics(int index) { return index == SM_CXICON || index == SM_CYICON ? kIconSize : 0; }

namespace platform {

INT_PTR RunModalDialog(CDialog& dialog) {
  if (!HaveDisplay()) {
    // Without a display the run ends here, and a user at a terminal is told
    // why, as messages without a display are.
    WriteToStandardError(g_get_prgname(), posix::DescribeUnopenedDisplay());
    return -1;
  }
  const DialogTemplate* tpl = FindDialogTemplate(dialog.GetTemplateId());
  if (!tpl) return -1;

  ModalState state;
  state.dialog = &dialog;
  state.loop = g_main_loop_new(nullptr, FALSE);
  state.window = CreateDialogWindow(*tpl, &state);
  dialog.m_hWnd = state.window;
  gtk_widget_realize(state.window);

  state.inHandler = true;
  try {
    if (dialog.OnInitDialog() && !state.tabStops.empty()) {
      gtk_widget_grab_focus(state.tabStops.front());
    }
  } catch (...) {
    state.error = std::current_exception();
  }
  state.inHandler = false;

  if (state.window && !dialog.IsEnded() && !state.error) {
    if (GtkWidget* button = gtk_window_get_default_widget(GTK_WINDOW(state.window))) {
      gtk_widget_grab_default(button);
    }
    gtk_widget_show_all(gtk_bin_get_child(GTK_BIN(state.window)));
    CentreInWorkArea(state.window);
    gtk_widget_show(state.window);
    g_main_loop_run(state.loop);
  }

  if (state.window) {
    g_signal_handlers_disconnect_by_data(state.window, &state);
    gtk_widget_destroy(state.window);
    state.window = nullptr;
  }
  dialog.m_hWnd = nullptr;
  // The window is gone from the screen before the caller goes on.
  gdk_display_flush(gdk_display_get_default());
  g_main_loop_unref(state.loop);
  if (state.error) std::rethrow_exception(state.error);
  return dialog.GetResult();
}

}  // namespace platform

namespace {

// The text of a message box. A list of missing parts can run to thousands
// of lines: it scrolls inside a box that keeps its button on the primary
// monitor's work area, and it is a read-only text view, which lays out only
// what is shown, where a label would measure every line before the box
// could appear. To assistive technologies it is the label it stands for.
GtkWidget* MessageText(const std::string& text) {
  static bool styled = false;
  if (!styled) {
    // Drawn on the box's own ground, like the label it stands for.
    AddStyle(std::string("#") + kMessageTextName + ", #" + kMessageTextName +
             " text { background-color: transparent; }");
    styled = true;
  }
  GtkWidget* view = gtk_text_view_new();
  gtk_widget_set_name(view, kMessageTextName);
  gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), text.c_str(), -1);
  gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
  gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), FALSE);
  gtk_widget_set_can_focus(view, FALSE);
  AtkObject* accessible = gtk_widget_get_accessible(view);
  atk_object_set_role(accessible, ATK_ROLE_LABEL);
  atk_object_set_name(accessible, text.c_str());

  // The box is placed from the size it asks for before the view has laid
  // out its text, so the size is measured here, line by line: one layout of
  // the whole text would take as long as the label.
  PangoLayout* layout = gtk_widget_create_pango_layout(view, nullptr);
  int width = 0;
  int height = 0;
  std::string::size_type start = 0;
  for (;;) {
    const std::string::size_type end = text.find('\n', start);
    const std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    pango_layout_set_text(layout, line.c_str(), -1);
    int lineWidth = 0;
    int lineHeight = 0;
    pango_layout_get_pixel_size(layout, &lineWidth, &lineHeight);
    width = std::max(width, lineWidth);
    height += lineHeight;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  g_object_unref(layout);
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (!monitor) monitor = gdk_display_get_monitor(display, 0);
  GdkRectangle area = {0, 0, 800, 600};
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  constexpr int kFrame = 160;  // the icon, the button and the borders
  width = std::min(width, std::max(area.width - kFrame, 100));
  height = std::min(height, std::max(area.height - kFrame, 100));

  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_min_content_width(GTK_SCROLLED_WINDOW(scroller), width);
  gtk_scrolled_window_set_min_content_height(GTK_SCROLLED_WINDOW(scroller), height);
  gtk_container_add(GTK_CONTAINER(scroller), view);
  gtk_widget_set_valign(scroller, GTK_ALIGN_CENTER);
  return scroller;
}

}  // namespace

namespace platform {

int ShowMessageBox(CWnd* owner, const std::string& text, const std::string& caption, UINT type) {
  if (!HaveDisplay()) {
    WriteToStandardError(caption, text);
    return IDOK;
  }
  GtkWindow* parent = owner && owner->m_hWnd ? GTK_WINDOW(owner->m_hWnd) : nullptr;
  // A message dialog of the system's own kind, so that the theme gives it
  // the margins and the button of the desktop's other alerts; its own text
  // and icon give way to the box's.
  GtkWidget* box = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_OTHER,
                                          GTK_BUTTONS_NONE, nullptr);
  GtkWidget* messageArea = gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box));
  gtk_container_foreach(
      GTK_CONTAINER(messageArea), [](GtkWidget* child, gpointer) { gtk_widget_destroy(child); },
      nullptr);
  gtk_window_set_title(GTK_WINDOW(box), caption.c_str());
  gtk_window_set_modal(GTK_WINDOW(box), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
  gtk_window_set_transient_for(GTK_WINDOW(box), parent);
  gtk_window_set_position(GTK_WINDOW(box),
                          parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
  if (type & MB_SYSTEMMODAL) gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
  atk_object_set_role(gtk_widget_get_accessible(box), ATK_ROLE_ALERT);

  GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  // The default theme draws no icon in a message dialog: the box shows its
  // own, as the type names it.
  if (const char* iconName = MessageIconName(type)) {
    GtkWidget* image = gtk_image_new_from_icon_name(iconName, GTK_ICON_SIZE_DIALOG);
    gtk_widget_set_valign(image, GTK_ALIGN_START);
    gtk_box_pack_start(GTK_BOX(row), image, FALSE, FALSE, 0);
  }
  gtk_box_pack_start(GTK_BOX(row), MessageText(text), TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(messageArea), row, TRUE, TRUE, 0);
  gtk_widget_show_all(row);

  // The button's label is the same on every system, whatever the locale.
  GtkWidget* ok = gtk_dialog_add_button(GTK_DIALOG(box), "OK", GTK_RESPONSE_OK);
  gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  gtk_widget_grab_focus(ok);

  // Enter, Escape, the OK button and the close button all dismiss it; the
  // answer is OK whichever it was.
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
  gdk_display_flush(gdk_display_get_default());
  return IDOK;
}

// No help viewer on this system reads the help file's format.
BOOL StartHelpViewer(const std::string&, DWORD) { return FALSE; }

HICON LoadIconResource(UINT id) {
  // Loaded once and kept for the whole run, as the system keeps the icons
  // of a program's resources.
  static std::map<UINT, IconResource> loaded;
  const auto found = loaded.find(id);
  if (found != loaded.end()) return &found->second;
  IconResource icon;
  if (!LoadIconImages(FindIconData(id), kIconSize, icon)) return nullptr;
  return &(loaded[id] = icon);
}

}  // namespace platform
