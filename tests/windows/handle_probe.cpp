// handle_probe HANDLE...: exits with the number of the given handle values (hexadecimal) that name
// an open handle in this process, so a test can tell which of its handles a child inherited.
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <cwchar>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv) return 100;
  int open = 0;
  for (int i = 1; i < count; ++i) {
    auto value = static_cast<ULONG_PTR>(std::wcstoull(argv[i], nullptr, 16));
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  LocalFree(argv);
  return open;
}
