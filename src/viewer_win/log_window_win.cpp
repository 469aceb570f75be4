// The log viewer window with the system's controls, wired to LogViewerModel: the file list
// (refreshed when it drops down), the read-only text (reloaded once a second when the file
// grew), the folder button and, above the text, why the file could not be read.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/text.h"
#include "log/log_viewer_model.h"
#include "log_window_win.h"
#include "platform/file_system.h"

namespace velquora::viewer {
namespace {

constexpr wchar_t kClassName[] = L"VelquoraLogViewer";
constexpr int kListId = 101;
constexpr int kFolderId = 102;
constexpr UINT_PTR kTimerId = 1;
constexpr int kToolbarHeight = 30;
constexpr int kErrorHeight = 36;

std::wstring Wide(const std::string& utf8) {
  std::u16string s = ToUtf16(utf8);
  return std::wstring(s.begin(), s.end());
}

// The edit control breaks lines only at "\r\n".
std::wstring EditText(const std::string& utf8) {
  std::wstring in = Wide(utf8), out;
  out.reserve(in.size() + in.size() / 32);
  for (wchar_t c : in) {
    if (c == L'\n') out += L'\r';
    out += c;
  }
  return out;
}

struct LogWindow {
  explicit LogWindow(const std::string& folder) : model(platform::RealFileSystem(), folder) {}
  log::LogViewerModel model;
  HWND window = nullptr;
  HWND list = nullptr;
  HWND folder_button = nullptr;
  HWND error_label = nullptr;
  HWND text = nullptr;
  HFONT font = nullptr;
  // How much of the model's text the control holds, and of which generation.
  std::uint64_t shown_generation = ~std::uint64_t{0};
  std::size_t shown_size = 0;
};

void Layout(LogWindow& w) {
  RECT r;
  GetClientRect(w.window, &r);
  int top = kToolbarHeight;
  bool error = IsWindowVisible(w.error_label);
  if (error) {
    MoveWindow(w.error_label, 4, top, r.right - 8, kErrorHeight, TRUE);
    top += kErrorHeight;
  }
  MoveWindow(w.text, 0, top, r.right, r.bottom > top ? r.bottom - top : 0, TRUE);
}

// What was appended is added at the end (the caller puts the selection back); only a text
// replaced in the model is set anew.
void ShowText(LogWindow& w) {
  const std::string& text = w.model.Text();
  if (w.model.TextGeneration() != w.shown_generation) {
    SetWindowTextW(w.text, EditText(text).c_str());
  } else if (text.size() > w.shown_size) {
    LRESULT end = SendMessageW(w.text, WM_GETTEXTLENGTH, 0, 0);
    SendMessageW(w.text, EM_SETSEL, static_cast<WPARAM>(end), end);
    SendMessageW(w.text, EM_REPLACESEL, FALSE,
                 reinterpret_cast<LPARAM>(EditText(text.substr(w.shown_size)).c_str()));
  }
  w.shown_generation = w.model.TextGeneration();
  w.shown_size = text.size();
  bool had_error = IsWindowVisible(w.error_label);
  if (w.model.Error().empty()) {
    ShowWindow(w.error_label, SW_HIDE);
  } else {
    SetWindowTextW(w.error_label,
                   Wide("Не удалось прочитать файл лога: " + w.model.Error()).c_str());
    ShowWindow(w.error_label, SW_SHOW);
  }
  if (had_error != !w.model.Error().empty()) Layout(w);
}

void RefillList(LogWindow& w) {
  SendMessageW(w.list, CB_RESETCONTENT, 0, 0);
  for (const auto& name : w.model.Files())
    SendMessageW(w.list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(name).c_str()));
  SendMessageW(w.list, CB_SETCURSEL, static_cast<WPARAM>(w.model.Selected()), 0);
}

void OnTimer(LogWindow& w) {
  DWORD start = 0, end = 0;
  SendMessageW(w.text, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
  if (!w.model.Tick()) return;
  ShowText(w);
  SendMessageW(w.text, EM_SETSEL, start, end);
  SendMessageW(w.text, EM_SCROLLCARET, 0, 0);
}

HWND Child(LogWindow& w, const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
  HWND child = CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, w.window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                               GetModuleHandleW(nullptr), nullptr);
  if (child) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(w.font), TRUE);
  return child;
}

void Create(LogWindow& w) {
  w.font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  w.list = Child(w, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, kListId);
  MoveWindow(w.list, 3, 3, 257, 300, FALSE);
  w.folder_button =
      Child(w, L"BUTTON", L"Открыть папку логов", BS_PUSHBUTTON | WS_TABSTOP, kFolderId);
  MoveWindow(w.folder_button, 264, 3, 150, 24, FALSE);
  w.error_label = Child(w, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 0);
  ShowWindow(w.error_label, SW_HIDE);
  w.text = Child(w, L"EDIT", L"",
                 ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL |
                     WS_VSCROLL | WS_BORDER | WS_TABSTOP,
                 0);
  // Logs outgrow the control's default limit of 32K characters within a day.
  SendMessageW(w.text, EM_SETLIMITTEXT, 0x7FFFFFFE, 0);
  w.model.Open();  // an unreadable last file: an empty text area and the reason above it
  RefillList(w);
  ShowText(w);
  Layout(w);
  SetTimer(w.window, kTimerId, 1000, nullptr);
}

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* w = reinterpret_cast<LogWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  try {
    switch (message) {
      case WM_CREATE: {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
        w = static_cast<LogWindow*>(create->lpCreateParams);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(w));
        w->window = hwnd;
        Create(*w);
        return 0;
      }
      case WM_SIZE:
        if (w) Layout(*w);
        return 0;
      case WM_TIMER:
        if (w && wparam == kTimerId) OnTimer(*w);
        return 0;
      case WM_COMMAND:
        if (!w) break;
        if (LOWORD(wparam) == kListId && HIWORD(wparam) == CBN_DROPDOWN) {
          w->model.DropDown();
          RefillList(*w);
        } else if (LOWORD(wparam) == kListId && HIWORD(wparam) == CBN_SELCHANGE) {
          LRESULT index = SendMessageW(w->list, CB_GETCURSEL, 0, 0);
          if (index >= 0) {
            w->model.Select(static_cast<int>(index));
            ShowText(*w);
          }
        } else if (LOWORD(wparam) == kFolderId) {
          ShellExecuteW(hwnd, L"open", Wide(w->model.Folder()).c_str(), nullptr, nullptr,
                        SW_SHOWNORMAL);
        }
        return 0;
      case WM_DESTROY:
        KillTimer(hwnd, kTimerId);
        PostQuitMessage(0);
        return 0;
      default:
        break;
    }
  } catch (...) {
    // Out of memory: the window stays as it was.
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

int RunLogWindow(const std::string& folder) {
  LogWindow w(folder);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  if (!RegisterClassExW(&wc)) throw std::runtime_error("Не удалось открыть окно просмотра лога");
  // Log lines are long (timestamp, level, caption, then the text): room for a whole one, within
  // the screen's work area.
  RECT area{0, 0, 1000, 640};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  int width = std::min<int>(1000, area.right - area.left);
  int height = std::min<int>(640, area.bottom - area.top);
  HWND window = CreateWindowExW(0, kClassName, L"Просмотр лога", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, width, height, nullptr, nullptr, instance, &w);
  if (!window) throw std::runtime_error("Не удалось открыть окно просмотра лога");
  ShowWindow(window, SW_SHOWNORMAL);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
      DestroyWindow(window);
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

}  // namespace velquora::viewer
