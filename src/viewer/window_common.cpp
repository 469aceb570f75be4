#include "window_common.h"

namespace velquora::viewer {

void ApplyFormStyle() {
  GtkCssProvider* css = gtk_css_provider_new();
  gtk_css_provider_load_from_data(
      css, "* { font-family: Tahoma, \"DejaVu Sans\", sans-serif; font-size: 13px; }", -1, nullptr);
  gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(css);
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
