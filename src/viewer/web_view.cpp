#include "web_view.h"

#include <gmodule.h>

#include <stdexcept>
#include <string>

namespace velquora::viewer {
namespace {

struct WebKit {
  GtkWidget* (*new_view)() = nullptr;
  void (*load_uri)(GtkWidget* view, const gchar* uri) = nullptr;
  std::string failure;  // the loader's reason for each version tried, when neither loaded
};

const WebKit& LoadWebKit() {
  static const WebKit loaded = [] {
    WebKit api;
    for (const char* name : {"libwebkit2gtk-4.1.so.0", "libwebkit2gtk-4.0.so.37"}) {
      GModule* module = g_module_open(name, G_MODULE_BIND_LAZY);
      if (module) {
        gpointer new_view = nullptr;
        gpointer load_uri = nullptr;
        if (g_module_symbol(module, "webkit_web_view_new", &new_view) &&
            g_module_symbol(module, "webkit_web_view_load_uri", &load_uri)) {
          g_module_make_resident(module);
          api.new_view = reinterpret_cast<GtkWidget* (*)()>(new_view);
          api.load_uri = reinterpret_cast<void (*)(GtkWidget*, const gchar*)>(load_uri);
          api.failure.clear();
          return api;
        }
      }
      if (!api.failure.empty()) api.failure += "; ";
      const gchar* reason = g_module_error();
      api.failure += reason ? reason : name;
      if (module) g_module_close(module);
    }
    return api;
  }();
  return loaded;
}

}  // namespace

GtkWidget* NewWebView(const std::string& uri) {
  const WebKit& webkit = LoadWebKit();
  if (!webkit.new_view) {
    throw std::runtime_error(
        "Для окна справки нужна библиотека WebKitGTK (libwebkit2gtk-4.1.so.0 или "
        "libwebkit2gtk-4.0.so.37), её нет на этом компьютере: установите пакет "
        "libwebkit2gtk-4.1-0 или libwebkit2gtk-4.0-37. Ответ загрузчика: " +
        webkit.failure);
  }
  GtkWidget* view = webkit.new_view();
  webkit.load_uri(view, uri.c_str());
  return view;
}

}  // namespace velquora::viewer
