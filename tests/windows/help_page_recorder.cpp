// help_page_recorder RECORD PAGE: stands in for the user's browser in the tests, registered in
// the test's wine prefix as the program that opens .html files. Like a browser, it reads the page
// some time after it was started: it waits a little, then appends one line to RECORD,
// "PAGE<TAB>1" when the page was there to read, "PAGE<TAB>0" when it was not.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv || count != 3) return 2;
  Sleep(300);
  DWORD attributes = GetFileAttributesW(argv[2]);
  bool exists = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  std::wstring line = std::wstring(argv[2]) + (exists ? L"\t1\n" : L"\t0\n");
  int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), size,
                      nullptr, nullptr);
  HANDLE record = CreateFileW(argv[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  LocalFree(argv);
  if (record == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  BOOL ok = WriteFile(record, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(record);
  return ok && written == bytes.size() ? 0 : 1;
}
