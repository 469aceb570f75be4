// velquora-viewer: the driver's windows, run as a program of their own so that no window
// toolkit is ever loaded into the host's process.
//   velquora-viewer log FOLDER          the log viewer
//   velquora-viewer doc HTML CAPTION    a document (the help)
// Exit code 0 when the user closed the window; otherwise a Russian message on stderr.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "doc_window.h"
#include "log_window.h"

int main(int argc, char** argv) {
  if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::puts("Usage: velquora-viewer log FOLDER | velquora-viewer doc HTML CAPTION");
    return 0;
  }
  bool log = argc == 3 && std::strcmp(argv[1], "log") == 0;
  bool doc = argc == 4 && std::strcmp(argv[1], "doc") == 0;
  if (!log && !doc) {
    std::fputs("Неверный вызов программы просмотра\n", stderr);
    return 2;
  }
  // Started from the library's cache under a hashed name (or a descriptor path): the windows
  // carry the program's own name.
  g_set_prgname("velquora-viewer");
  int gtk_argc = 1;
  if (!gtk_init_check(&gtk_argc, &argv)) {
    std::fputs("Не удалось открыть окно: графический сеанс недоступен\n", stderr);
    return 1;
  }
  try {
    return log ? velquora::viewer::RunLogWindow(argv[2])
               : velquora::viewer::RunDocWindow(argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
