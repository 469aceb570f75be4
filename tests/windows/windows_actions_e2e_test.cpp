// The driver's windows through the DLL, as a Windows user meets them, on a virtual display:
//  - the help opens in the user's browser (here a recorder registered for .html files), which
//    reads the page after the call has returned: the page must still be there; the next help
//    request removes the page before it, and so does the end of the last object;
//  - nothing the viewer starts keeps its error output, which the library reads;
//  - the log viewer shows today's log file and the call ends when the user closes the window;
//    a viewer that dies makes the call fail with a text that says so.
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/e2e_fixture.h"
#include "support/temp_dir.h"
#include "support/xml_tree.h"

namespace velquora::e2e {

host::AddinLibrary* DriverTest::lib_ = nullptr;

namespace {

std::wstring Wide(const std::string& utf8) {
  std::u16string s = ToUtf16(utf8);
  return std::wstring(s.begin(), s.end());
}

std::string Narrow(const std::wstring& wide) {
  return ToUtf8(std::u16string(wide.begin(), wide.end()));
}

bool FileThere(const std::string& path) {
  DWORD a = GetFileAttributesW(Wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderThere(const std::string& path) {
  DWORD a = GetFileAttributesW(Wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FolderOf(const std::string& path) {
  return path.substr(0, path.find_last_of("\\/"));
}

// Polls `probe` for up to `seconds`; true as soon as it answers true.
template <typename Probe>
bool WaitFor(Probe probe, int seconds) {
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (probe()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return probe();
}

// For as long as it lives, .html and .htm files open in help_page_recorder.exe (beside this
// program), which appends what it was given to a record file. Wine's shell reads file types from
// the machine's classes only (not the user's), so the test prefix's own entries are changed and
// put back afterwards.
class RecordingBrowser {
 public:
  RecordingBrowser() {
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self, length);
    folder.resize(folder.find_last_of(L"\\/"));
    record_ = folder_ / "pages.txt";
    std::wstring command =
        L"\"" + folder + L"\\help_page_recorder.exe\" \"" + Wide(record_) + L"\" \"%1\"";
    ok_ = Set(L"VelquoraTestPage\\shell\\open\\command", command) &&
          Set(L".html", L"VelquoraTestPage") && Set(L".htm", L"VelquoraTestPage");
  }
  ~RecordingBrowser() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->existed)
        Write(it->key, it->value);
      else
        RegDeleteTreeW(HKEY_CLASSES_ROOT, it->key.c_str());
    }
  }
  bool registered() const { return ok_; }

  // The pages the "browser" was given, each with whether it could read it then.
  struct Page {
    std::string path;
    bool existed;
  };
  std::vector<Page> Pages() const {
    std::vector<Page> pages;
    std::istringstream in(test::ReadText(record_));
    std::string line;
    while (std::getline(in, line)) {
      std::size_t tab = line.rfind('\t');
      if (tab == std::string::npos) continue;
      pages.push_back({line.substr(0, tab), line.substr(tab + 1) == "1"});
    }
    return pages;
  }
  // Waits until the "browser" has recorded `count` pages.
  bool WaitForPages(std::size_t count) const {
    return WaitFor([&] { return Pages().size() >= count; }, 30);
  }

 private:
  struct Saved {
    std::wstring key;
    bool existed;
    std::wstring value;
  };

  // Sets the key's default value, remembering what it was.
  bool Set(const std::wstring& key, const std::wstring& value) {
    Saved saved{key, false, {}};
    wchar_t old[512];
    DWORD size = sizeof old;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE, &handle) ==
        ERROR_SUCCESS) {
      saved.existed = true;
      if (RegQueryValueExW(handle, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(old),
                           &size) == ERROR_SUCCESS)
        saved.value.assign(old, size / sizeof(wchar_t) - (size >= sizeof(wchar_t) ? 1 : 0));
      RegCloseKey(handle);
    }
    saved_.push_back(saved);
    return Write(key, value);
  }

  static bool Write(const std::wstring& key, const std::wstring& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS)
      return false;
    LONG result =
        RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
  }

  std::vector<Saved> saved_;
  test::TempDir folder_;
  std::string record_;
  bool ok_ = false;
};

// The processes running in this session, each with the process that started it.
std::vector<PROCESSENTRY32W> Processes() {
  std::vector<PROCESSENTRY32W> all;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return all;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    all.push_back(entry);
  CloseHandle(snapshot);
  return all;
}

const PROCESSENTRY32W* FindProcess(const std::vector<PROCESSENTRY32W>& all, const wchar_t* name) {
  for (const auto& p : all) {
    if (_wcsicmp(p.szExeFile, name) == 0) return &p;
  }
  return nullptr;
}

struct ViewerRun {
  long exit_code = -1;  // -1: it did not end in time
  std::string output;
  DWORD pid = 0;
  bool output_held = false;  // something else still held its error output after it had gone
};

// Runs the viewer program as the library does (its error output a pipe, the one handle it
// inherits), then reads the pipe to its end: it ends only when nothing else holds it.
ViewerRun RunViewer(const std::vector<std::wstring>& args) {
  ViewerRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, &inherit, 64 * 1024)) return run;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<unsigned char> block(size);
  auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(block.data());
  InitializeProcThreadAttributeList(list, 1, 0, &size);
  UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &write_end,
                            sizeof write_end, nullptr, nullptr);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdError = write_end;
  startup.lpAttributeList = list;
  std::wstring line = L"\"" + Wide(VELQUORA_BIN_DIR "/velquora-viewer.exe") + L"\"";
  for (const auto& a : args) line += L" \"" + a + L"\"";
  PROCESS_INFORMATION child{};
  bool started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW, nullptr, nullptr,
                                &startup.StartupInfo, &child) != 0;
  DeleteProcThreadAttributeList(list);
  CloseHandle(write_end);
  if (started) {
    run.pid = child.dwProcessId;
    if (WaitForSingleObject(child.hProcess, 120000) == WAIT_OBJECT_0) {
      DWORD code = 0;
      GetExitCodeProcess(child.hProcess, &code);
      run.exit_code = static_cast<long>(code);
    }
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    // Its end shows once the system has closed the viewer's handles; a holder keeps it open.
    bool ended = WaitFor(
        [&] {
          DWORD available = 0;
          if (!PeekNamedPipe(read_end, nullptr, 0, nullptr, &available, nullptr)) return true;
          char buffer[4096];
          DWORD n = 0;
          if (available > 0 && ReadFile(read_end, buffer, sizeof buffer, &n, nullptr))
            run.output.append(buffer, n);
          return false;
        },
        10);
    run.output_held = !ended;
  }
  CloseHandle(read_end);
  return run;
}

// The library reads the viewer's error output until the viewer exits, so nothing the viewer
// starts may keep it. Wine's desktop process, which the session's first window starts, takes the
// standard handles of the program that starts it and lives as long as the session (the hang this
// guards against). The display tests run without wine's menu builder, which would start it
// earlier, and this case runs first: the viewer's help request starts it here.
TEST(WindowsViewerStart, NothingTheViewerStartsKeepsItsErrorOutput) {
  ASSERT_EQ(FindProcess(Processes(), L"explorer.exe"), nullptr)
      << "wine's desktop process runs already: the viewer would not be the one to start it";
  RecordingBrowser browser;
  ASSERT_TRUE(browser.registered());
  test::TempDir folder;
  std::string page = folder.path() + "\\page.html";
  test::WriteText(page, "<p>help</p>");

  ViewerRun help = RunViewer({L"doc", Wide(page), L"Справка"});
  EXPECT_EQ(help.exit_code, 0) << help.output;
  ASSERT_TRUE(browser.WaitForPages(1));
  EXPECT_EQ(browser.Pages()[0].path, page);
  EXPECT_FALSE(help.output_held) << "what the viewer started holds its error output";
  auto processes = Processes();
  const PROCESSENTRY32W* desktop = FindProcess(processes, L"explorer.exe");
  ASSERT_NE(desktop, nullptr) << "no desktop process was started";
  EXPECT_EQ(desktop->th32ParentProcessID, help.pid) << "the viewer did not start the desktop";

  // Its own error output still reaches the caller.
  ViewerRun wrong = RunViewer({L"nonsense"});
  EXPECT_EQ(wrong.exit_code, 2);
  EXPECT_EQ(wrong.output.substr(0, wrong.output.find_last_not_of("\r\n") + 1),
            "Неверный вызов программы просмотра");
  EXPECT_FALSE(wrong.output_held);
}

TEST_F(DriverTest, HelpPageOutlivesTheCallUntilTheNextRequestOrTheLastObject) {
  RecordingBrowser browser;
  ASSERT_TRUE(browser.registered());

  ASSERT_TRUE(Call(u"DoAdditionalAction", {std::u16string(u"ShowHelp")})) << ErrorUtf8();
  ASSERT_TRUE(browser.WaitForPages(1)) << "the browser was never started";
  RecordingBrowser::Page first = browser.Pages()[0];
  EXPECT_TRUE(first.existed) << "the browser found no page at " << first.path;
  EXPECT_TRUE(FileThere(first.path)) << "the page is gone after the call: " << first.path;

  ASSERT_TRUE(Call(u"DoAdditionalAction", {std::u16string(u"ShowHelp")})) << ErrorUtf8();
  ASSERT_TRUE(browser.WaitForPages(2));
  RecordingBrowser::Page second = browser.Pages()[1];
  EXPECT_NE(FolderOf(second.path), FolderOf(first.path));
  EXPECT_TRUE(second.existed) << second.path;
  EXPECT_TRUE(FileThere(second.path)) << second.path;
  EXPECT_FALSE(FolderThere(FolderOf(first.path))) << "the first page's folder stayed";

  // The last object gone (the host about to free the library): nothing of the help stays.
  d_->Destroy();
  EXPECT_FALSE(FolderThere(FolderOf(second.path))) << "the last page's folder stayed";
}

TEST_F(DriverTest, AHelpPageThatCannotBeRemovedFailsNoCall) {
  RecordingBrowser browser;
  ASSERT_TRUE(browser.registered());
  ASSERT_TRUE(Call(u"DoAdditionalAction", {std::u16string(u"ShowHelp")})) << ErrorUtf8();
  ASSERT_TRUE(browser.WaitForPages(1));
  std::string first = browser.Pages()[0].path;
  // The "browser" still holds the first page, sharing it with nobody: it cannot be removed.
  std::u16string wide = ToUtf16(first);
  HANDLE held = CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ, 0,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Call(u"DoAdditionalAction", {std::u16string(u"ShowHelp")})) << ErrorUtf8();
  EXPECT_TRUE(FileThere(first)) << "a held page cannot have been removed";
  ASSERT_TRUE(browser.WaitForPages(2));
  EXPECT_TRUE(FileThere(browser.Pages()[1].path));
  d_->Destroy();
  EXPECT_EQ(d_->memory().live_blocks(), 0u);
  CloseHandle(held);
  std::error_code ignored;
  std::filesystem::remove_all(FolderOf(first), ignored);  // what the library had to leave
}

// The log viewer's window, once shown, found from outside as a user's tool would.
HWND FindLogWindow() {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, nullptr, L"Просмотр лога")) != nullptr) {
    if (IsWindowVisible(window)) return window;
  }
  return nullptr;
}

std::wstring WindowText(HWND window) {
  auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  auto copied =
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

std::wstring SelectedItem(HWND list) {
  auto index = SendMessageW(list, CB_GETCURSEL, 0, 0);
  if (index < 0) return L"<none>";
  auto length = SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length < 0) return L"<none>";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index),
               reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// Watches for the viewer's window from a thread of its own while the host's call waits, then
// does `finish` to it (close it, or kill its program).
class LogWindowWatcher {
 public:
  explicit LogWindowWatcher(void (*finish)(HWND))
      : thread_([this, finish] {
          HWND window = nullptr;
          if (!WaitFor([&] { return (window = FindLogWindow()) != nullptr; }, 90)) return;
          HWND list = FindWindowExW(window, nullptr, L"ComboBox", nullptr);
          HWND text = FindWindowExW(window, nullptr, L"Edit", nullptr);
          // The text is filled in right after the window shows.
          WaitFor([&] { return text && SendMessageW(text, WM_GETTEXTLENGTH, 0, 0) > 0; }, 10);
          if (list) selected_ = Narrow(SelectedItem(list));
          if (text) shown_ = Narrow(WindowText(text));
          found_ = true;
          finish(window);
        }) {}
  ~LogWindowWatcher() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool found() const { return found_; }
  const std::string& selected() const { return selected_; }
  const std::string& shown() const { return shown_; }

 private:
  std::atomic<bool> found_{false};
  std::string selected_, shown_;
  std::thread thread_;
};

std::string TodaysLogName(const std::string& address) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  char date[16];
  std::snprintf(date, sizeof date, "%04u.%02u.%02u", now.wYear, now.wMonth, now.wDay);
  std::string name = address;
  for (char& c : name) c = c == '.' ? '_' : c;
  return name + "_" + date + ".log";
}

TEST_F(DriverTest, ViewLogShowsTodaysLogAndReturnsWhenTheUserClosesIt) {
  Set(u"LogEnabled", true);
  ASSERT_TRUE(Open());
  std::string folder = test::ParseXml(ToUtf8(Out(u"GetDescription"))).root.Attr("LogPath");
  std::string today = TodaysLogName("127.0.0.1");
  ASSERT_TRUE(FileThere(folder + "\\" + today)) << folder << "\\" << today;

  LogWindowWatcher watcher([](HWND window) { PostMessageW(window, WM_CLOSE, 0, 0); });
  EXPECT_TRUE(Call(u"DoAdditionalAction", {std::u16string(u"ViewLog")})) << ErrorUtf8();
  watcher.Join();
  ASSERT_TRUE(watcher.found()) << "no log window appeared";
  EXPECT_EQ(watcher.selected(), today);
  EXPECT_NE(watcher.shown().find("Application:\tw_velquora.dll"), std::string::npos)
      << watcher.shown();
}

TEST_F(DriverTest, ViewLogFailsWithATextWhenTheViewerDies) {
  Set(u"LogEnabled", true);
  ASSERT_TRUE(Open());
  LogWindowWatcher watcher([](HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (process) {
      TerminateProcess(process, 7);
      CloseHandle(process);
    }
  });
  EXPECT_FALSE(Call(u"DoAdditionalAction", {std::u16string(u"ViewLog")}));
  watcher.Join();
  ASSERT_TRUE(watcher.found()) << "no log window appeared";
  EXPECT_EQ(ErrorUtf8(), "Окно просмотра завершилось с ошибкой (код 7)");
}

}  // namespace
}  // namespace velquora::e2e
