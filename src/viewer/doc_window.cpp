// The help window: an embedded browser view filling the window.
#include "doc_window.h"

#include <gtk/gtk.h>

#include "web_view.h"
#include "window_common.h"

namespace velquora::viewer {

int RunDocWindow(const std::string& html_path, const std::string& caption) {
  gchar* uri = g_filename_to_uri(html_path.c_str(), nullptr, nullptr);
  if (!uri) return 1;
  std::string uri_text = uri;
  g_free(uri);
  GtkWidget* browser = NewWebView(uri_text);  // fails before any window when WebKit is missing
  ApplyFormStyle();
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), caption.empty() ? "Документ" : caption.c_str());
  SizeToScreen(window, 1000, 760);
  gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
  CloseOnEscape(window);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  gtk_container_add(GTK_CONTAINER(window), browser);
  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}

}  // namespace velquora::viewer
