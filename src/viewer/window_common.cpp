#include "window_common.h"

#include <algorithm>

namespace velquora::viewer {

void ApplyFormStyle() {
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(
      css, "* { font-family: Tahoma, \"DejaVu Sans\", sans-serif; font-size: 13px; }", -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
}

void SizeToScreen(GtkWidget* window, int width, int height) {
  GdkRectangle area{0, 0, width, height};
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
  if (!monitor && display) monitor = gdk_display_get_monitor(display, 0);
  if (monitor) gdk_monitor_get_workarea(monitor, &area);
  gtk_window_set_default_size(GTK_WINDOW(window), std::min(width, area.width * 9 / 10),
                              std::min(height, area.height * 9 / 10));
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
}

namespace {
gboolean OnKey(GtkWidget* window, GdkEventKey* event, gpointer) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  gtk_window_close(GTK_WINDOW(window));
  return TRUE;
}
}  // namespace

void CloseOnEscape(GtkWidget* window) {
  g_signal_connect(window, "key-press-event", G_CALLBACK(OnKey), nullptr);
}

}  // namespace velquora::viewer
