// output_probe: a carried program for the platform test of how the library waits for its
// programs. It writes to its standard error.
//   output_probe hold EVENT   starts a copy of itself that keeps this program's standard error
//                             until the named event is set (a minute at most), writes
//                             "holder PID" for it and exits with 3 at once
//   output_probe wait EVENT   that copy
//   output_probe flood BYTES  writes BYTES times 'x', then "end", and exits with 4
#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

bool Write(const std::string& text) {
  DWORD written = 0;
  return WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), static_cast<DWORD>(text.size()),
                   &written, nullptr) &&
         written == text.size();
}

int Hold(const wchar_t* event) {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return 100;
  std::wstring line = L"\"" + std::wstring(self) + L"\" wait " + event;
  // Like a browser started from the program: it inherits, and its standard error is the pipe.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(self, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &child))
    return 101;
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return Write("holder " + std::to_string(child.dwProcessId) + "\n") ? 3 : 102;
}

int Wait(const wchar_t* event) {
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, event);
  if (!release) return 103;
  WaitForSingleObject(release, 60000);
  CloseHandle(release);
  return 0;
}

int Flood(const wchar_t* bytes) {
  std::string chunk(4096, 'x');
  for (unsigned long left = std::wcstoul(bytes, nullptr, 10); left > 0;) {
    unsigned long n = left < chunk.size() ? left : static_cast<unsigned long>(chunk.size());
    if (!Write(chunk.substr(0, n))) return 104;
    left -= n;
  }
  return Write("end\n") ? 4 : 104;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  int count = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!argv || count != 3) return 2;
  std::wstring mode = argv[1];
  int code = mode == L"hold"    ? Hold(argv[2])
             : mode == L"wait"  ? Wait(argv[2])
             : mode == L"flood" ? Flood(argv[2])
                                : 2;
  LocalFree(argv);
  return code;
}
