// velquora-viewer for Windows: the driver's windows, run as a program of their own.
//   velquora-viewer log FOLDER          the log viewer
//   velquora-viewer doc HTML CAPTION    a document (the help): opened in the user's browser
// Exit code 0 when the user closed the window; otherwise a Russian message on its error output.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "log_window_win.h"

namespace {

HANDLE g_error_output = nullptr;

// The standard error handle is the library's pipe, which it reads until this program exits.
// Nothing this program starts (the browser, the folder window) may keep it: a program started to
// inherit gets every inheritable handle, one started without standard handles of its own gets
// these, and wine gives them to its desktop process too, which the first window of a session
// starts and which lives as long as the session. So the error output is kept here, out of
// inheritance, and the standard handles are cleared before anything runs.
void TakeStandardHandles() {
  g_error_output = GetStdHandle(STD_ERROR_HANDLE);
  for (DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE handle = GetStdHandle(which);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
      SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0);
    SetStdHandle(which, nullptr);
  }
}

void ReportError(std::string_view text) {
  if (g_error_output == nullptr || g_error_output == INVALID_HANDLE_VALUE) return;
  std::string line(text);
  line += '\n';
  DWORD written = 0;
  WriteFile(g_error_output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

std::string Narrow(const wchar_t* text) {
  std::wstring w(text);
  return velquora::ToUtf8(std::u16string(w.begin(), w.end()));
}

std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return args;
  for (int i = 0; i < count; ++i) args.push_back(Narrow(argv[i]));
  LocalFree(argv);
  return args;
}

// The help is a finished HTML page: the user's default browser shows it (no browser engine is
// built into the program). The page's folder is removed by the library, not here. Some handlers
// are started through COM, and this program ends right after the call: COM is set up first and
// the call made to finish its work before it returns.
int OpenDocument(const std::string& html) {
  std::u16string path = velquora::ToUtf16(html);
  std::wstring wide(path.begin(), path.end());
  HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = wide.c_str();
  info.nShow = SW_SHOWNORMAL;
  const bool opened = ShellExecuteExW(&info) != FALSE;
  if (SUCCEEDED(com)) CoUninitialize();
  if (!opened) {
    ReportError("Не удалось открыть справку в браузере");
    return 1;
  }
  return 0;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  TakeStandardHandles();
  try {
    std::vector<std::string> args = Arguments();
    bool log = args.size() == 3 && args[1] == "log";
    bool doc = args.size() == 4 && args[1] == "doc";
    if (!log && !doc) {
      ReportError("Неверный вызов программы просмотра");
      return 2;
    }
    return log ? velquora::viewer::RunLogWindow(args[2]) : OpenDocument(args[2]);
  } catch (const std::exception& e) {
    ReportError(e.what());
    return 1;
  }
}
