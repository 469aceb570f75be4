// The log viewer window: widgets wired to LogViewerModel.
#include "log_window.h"

#include <gtk/gtk.h>

#include <cstdint>

#include "log/log_viewer_model.h"
#include "window_common.h"

namespace velquora::viewer {
namespace {

struct LogWindow {
  explicit LogWindow(const std::string& folder) : model(platform::RealFileSystem(), folder) {}
  log::LogViewerModel model;
  GtkWidget* window = nullptr;
  GtkWidget* combo = nullptr;
  GtkWidget* text = nullptr;
  GtkWidget* error_bar = nullptr;
  GtkWidget* error_label = nullptr;
  gulong changed_handler = 0;
  // How much of the model's text the buffer holds, and of which generation.
  std::uint64_t shown_generation = ~std::uint64_t{0};
  std::size_t shown_size = 0;
};

// The model's text (valid UTF-8 always, so the widget never refuses it) and, above it, why the
// last file could not be read. What was appended is added at the end; only a text replaced in
// the model is set anew.
void ShowText(LogWindow& w) {
  const std::string& text = w.model.Text();
  GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(w.text));
  if (w.model.TextGeneration() != w.shown_generation) {
    gtk_text_buffer_set_text(buffer, text.c_str(), static_cast<gint>(text.size()));
  } else if (text.size() > w.shown_size) {
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    gtk_text_buffer_insert(buffer, &end, text.c_str() + w.shown_size,
                           static_cast<gint>(text.size() - w.shown_size));
  }
  w.shown_generation = w.model.TextGeneration();
  w.shown_size = text.size();
  if (w.model.Error().empty()) {
    gtk_widget_hide(w.error_bar);
  } else {
    std::string message = "Не удалось прочитать файл лога: " + w.model.Error();
    gtk_label_set_text(GTK_LABEL(w.error_label), message.c_str());
    gtk_widget_show(w.error_bar);
  }
}

void RefillCombo(LogWindow& w) {
  g_signal_handler_block(w.combo, w.changed_handler);
  gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(w.combo));
  for (const auto& name : w.model.Files())
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(w.combo), name.c_str());
  gtk_combo_box_set_active(GTK_COMBO_BOX(w.combo), w.model.Selected());
  g_signal_handler_unblock(w.combo, w.changed_handler);
}

void OnChanged(GtkComboBox* combo, gpointer data) {
  auto& w = *static_cast<LogWindow*>(data);
  int index = gtk_combo_box_get_active(combo);
  if (index < 0) return;
  try {
    w.model.Select(index);
    ShowText(w);
  } catch (...) {
    // Out of memory: the window stays as it was.
  }
}

void OnPopupShown(GObject* combo, GParamSpec*, gpointer data) {
  gboolean shown = FALSE;
  g_object_get(combo, "popup-shown", &shown, nullptr);
  if (!shown) return;
  auto& w = *static_cast<LogWindow*>(data);
  w.model.DropDown();
  RefillCombo(w);
}

gboolean OnTimer(gpointer data) {
  auto& w = *static_cast<LogWindow*>(data);
  try {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(w.text));
    GtkTextIter caret;
    gtk_text_buffer_get_iter_at_mark(buffer, &caret, gtk_text_buffer_get_insert(buffer));
    int offset = gtk_text_iter_get_offset(&caret);
    if (w.model.Tick()) {
      ShowText(w);
      gtk_text_buffer_get_iter_at_offset(buffer, &caret, offset);
      gtk_text_buffer_place_cursor(buffer, &caret);
      gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(w.text), gtk_text_buffer_get_insert(buffer));
      gtk_widget_grab_focus(w.text);
    }
  } catch (...) {
  }
  return G_SOURCE_CONTINUE;
}

void OnOpenFolder(GtkButton*, gpointer data) {
  auto& w = *static_cast<LogWindow*>(data);
  gchar* uri = g_filename_to_uri(w.model.Folder().c_str(), nullptr, nullptr);
  if (uri) g_app_info_launch_default_for_uri(uri, nullptr, nullptr);
  g_free(uri);
}

}  // namespace

int RunLogWindow(const std::string& folder) {
  LogWindow w(folder);
  ApplyFormStyle();
  w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(w.window), "Просмотр лога");
  // Log lines are long (timestamp, level, caption, then the text): room for a whole one.
  SizeToScreen(w.window, 1000, 640);
  CloseOnEscape(w.window);
  g_signal_connect(w.window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);

  GtkWidget* layout = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  GtkWidget* toolbar = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 2);
  gtk_container_set_border_width(GTK_CONTAINER(toolbar), 3);
  w.combo = gtk_combo_box_text_new();
  gtk_widget_set_size_request(w.combo, 257, -1);
  GtkWidget* folder_button = gtk_button_new_from_icon_name("folder", GTK_ICON_SIZE_SMALL_TOOLBAR);
  gtk_button_set_relief(GTK_BUTTON(folder_button), GTK_RELIEF_NONE);
  gtk_widget_set_size_request(folder_button, 23, 24);
  gtk_widget_set_tooltip_text(folder_button, "Открыть папку логов");
  gtk_box_pack_start(GTK_BOX(toolbar), w.combo, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(toolbar), folder_button, FALSE, FALSE, 0);

  w.text = gtk_text_view_new();
  gtk_text_view_set_editable(GTK_TEXT_VIEW(w.text), FALSE);
  gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(w.text), GTK_WRAP_NONE);
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_ALWAYS,
                                 GTK_POLICY_ALWAYS);
  gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scroller), FALSE);
  gtk_container_add(GTK_CONTAINER(scroller), w.text);

  w.error_bar = gtk_info_bar_new();
  gtk_info_bar_set_message_type(GTK_INFO_BAR(w.error_bar), GTK_MESSAGE_ERROR);
  w.error_label = gtk_label_new("");
  gtk_label_set_line_wrap(GTK_LABEL(w.error_label), TRUE);
  gtk_label_set_selectable(GTK_LABEL(w.error_label), TRUE);
  gtk_label_set_xalign(GTK_LABEL(w.error_label), 0);
  gtk_container_add(GTK_CONTAINER(gtk_info_bar_get_content_area(GTK_INFO_BAR(w.error_bar))),
                    w.error_label);
  gtk_widget_show(w.error_label);
  gtk_widget_set_no_show_all(w.error_bar, TRUE);  // shown only while there is an error

  gtk_box_pack_start(GTK_BOX(layout), toolbar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(layout), w.error_bar, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(layout), scroller, TRUE, TRUE, 0);
  gtk_container_add(GTK_CONTAINER(w.window), layout);

  w.changed_handler = g_signal_connect(w.combo, "changed", G_CALLBACK(OnChanged), &w);
  g_signal_connect(w.combo, "notify::popup-shown", G_CALLBACK(OnPopupShown), &w);
  g_signal_connect(folder_button, "clicked", G_CALLBACK(OnOpenFolder), &w);

  w.model.Open();  // an unreadable last file: an empty text area and the reason above it
  RefillCombo(w);
  ShowText(w);
  guint timer = g_timeout_add(1000, OnTimer, &w);
  gtk_widget_show_all(w.window);
  gtk_main();
  g_source_remove(timer);
  return 0;
}

}  // namespace velquora::viewer
