// The Windows log viewer as a user meets it: started with a log folder, its window found by its
// title, the file list and the text read back from the controls, a line appended to the log
// shown within the one-second refresh, and the window closed by the user.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "common/text.h"
#include "support/temp_dir.h"

namespace velquora {
namespace {

std::wstring Wide(const std::string& utf8) {
  std::u16string s = ToUtf16(utf8);
  return std::wstring(s.begin(), s.end());
}

std::wstring WindowText(HWND window) {
  auto length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  auto copied =
      SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

std::wstring ListItem(HWND list, WPARAM index) {
  auto length = SendMessageW(list, CB_GETLBTEXTLEN, index, 0);
  if (length < 0) return L"<none>";
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  SendMessageW(list, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
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

// Finds the viewer's window belonging to process `pid` once it is shown (its controls made and
// filled).
HWND FindViewer(DWORD pid) {
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, nullptr, L"Просмотр лога")) != nullptr) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == pid && IsWindowVisible(window)) return window;
  }
  return nullptr;
}

class Viewer {
 public:
  explicit Viewer(const std::string& folder) {
    std::wstring command =
        L"\"" + Wide(VELQUORA_BIN_DIR "/velquora-viewer.exe") + L"\" log \"" + Wide(folder) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    started_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &startup, &process_) != 0;
    if (started_) CloseHandle(process_.hThread);
  }
  ~Viewer() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
      TerminateProcess(process_.hProcess, 9);
    CloseHandle(process_.hProcess);
  }
  bool started() const { return started_; }
  DWORD pid() const { return process_.dwProcessId; }
  // Waits for the program's end; its exit code, or -1 when it did not end in time.
  long ExitCode(DWORD milliseconds) {
    if (WaitForSingleObject(process_.hProcess, milliseconds) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return static_cast<long>(code);
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_{};
};

TEST(WindowsViewer, ShowsTheNewestLogFollowsItsGrowthAndClosesCleanly) {
  test::TempDir folder;
  test::WriteText(folder / "a-older.log", "old line\n");
  test::WriteText(folder / "b-newer.log", "первая строка\nsecond line\n");
  test::WriteText(folder / "notes.txt", "not a log\n");

  Viewer viewer(folder.path());
  ASSERT_TRUE(viewer.started());
  HWND window = nullptr;
  ASSERT_TRUE(WaitFor(
      [&] { return (window = FindViewer(viewer.pid())) != nullptr || viewer.ExitCode(0) != -1; },
      60));
  ASSERT_NE(window, nullptr) << "no viewer window appeared; the program's exit code "
                             << viewer.ExitCode(0);
  HWND list = FindWindowExW(window, nullptr, L"ComboBox", nullptr);
  HWND text = FindWindowExW(window, nullptr, L"Edit", nullptr);
  ASSERT_NE(list, nullptr);
  ASSERT_NE(text, nullptr);

  // The list holds the .log files only, sorted, the last one chosen and shown.
  EXPECT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 2);
  EXPECT_EQ(ListItem(list, 0), L"a-older.log");
  EXPECT_EQ(ListItem(list, 1), L"b-newer.log");
  EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 1);
  EXPECT_EQ(WindowText(text), L"первая строка\r\nsecond line\r\n");
  EXPECT_NE(GetWindowLongW(text, GWL_STYLE) & ES_READONLY, 0) << "the log text must be read-only";

  // A record appended by the writer appears without the user doing anything.
  test::WriteText(folder / "b-newer.log", "первая строка\nsecond line\nappended later\n");
  std::wstring expected = L"первая строка\r\nsecond line\r\nappended later\r\n";
  std::wstring shown;
  EXPECT_TRUE(WaitFor([&] { return (shown = WindowText(text)) == expected; }, 10))
      << "shown: " << ToUtf8(std::u16string(shown.begin(), shown.end()));

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(viewer.ExitCode(20000), 0);
}

}  // namespace
}  // namespace velquora
