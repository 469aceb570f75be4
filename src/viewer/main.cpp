// velquora-viewer: the driver's windows, run as a program of their own so that no window
// toolkit is ever loaded into the host's process.
//   velquora-viewer log FOLDER          the log viewer
//   velquora-viewer doc HTML CAPTION    a document (the help)
// Exit code 0 when the user closed the window; otherwise a Russian message on stderr. The exit
// code is also reported to the library that started the program (platform/process.h).
#include <gtk/gtk.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "doc_window.h"
#include "log_window.h"
#include "platform/process.h"

namespace {

// The toolkit names the window to the display in the locale's character set: without a UTF-8
// locale (a host started with LANG=C, a bare service environment) the Cyrillic title is left out
// of the window's name, and tools that look windows up by name do not find it. The viewer only
// shows UTF-8 text, so its character type is UTF-8 whatever the host's locale; the rest of the
// locale (messages, dates) stays the host's.
void UseUtf8CharacterType() {
  std::setlocale(LC_ALL, "");
  if (!g_get_charset(nullptr)) {
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      if (std::setlocale(LC_CTYPE, name)) break;
    }
  }
  gtk_disable_setlocale();
}

int Run(int argc, char** argv) {
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
  // Whatever name it was started under, the windows carry the program's own.
  g_set_prgname("velquora-viewer");
  UseUtf8CharacterType();
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

}  // namespace

int main(int argc, char** argv) {
  velquora::platform::TakeOutcomeChannel();
  int code = Run(argc, argv);
  velquora::platform::ReportOutcome(code);
  return code;
}
