#include <memory>
#include <stdexcept>

#include "platform/process.h"
#include "platform/win/process_win.h"
#include "platform/win/win_text.h"

#include <bcrypt.h>  // after windows.h, which it needs

namespace velquora::platform {
namespace {

using win::Handle;

// One argument quoted as the C runtime's command-line parser reads it back.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  for (auto it = arg.begin();; ++it) {
    std::size_t backslashes = 0;
    while (it != arg.end() && *it == L'\\') {
      ++it;
      ++backslashes;
    }
    if (it == arg.end()) {
      line.append(backslashes * 2, L'\\');
      break;
    }
    if (*it == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    line += *it;
  }
  line += L'"';
}

[[noreturn]] void ThrowStart(const std::string& program, DWORD error) {
  throw std::runtime_error(program + ": " + win::ErrorText(error));
}

}  // namespace

namespace win {

// The child inherits exactly one handle, the write end of its standard error pipe: nothing of
// the host's (sockets, files) leaks into it.
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_raw = nullptr, write_raw = nullptr;
  if (!CreatePipe(&read_raw, &write_raw, &inherit, 0)) ThrowStart(program, GetLastError());
  Handle read_end(read_raw), write_end(write_raw);
  SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  SIZE_T list_size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
  std::unique_ptr<unsigned char[]> list_block(new unsigned char[list_size]);
  auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_block.get());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &list_size))
    ThrowStart(program, GetLastError());
  struct ListGuard {
    LPPROC_THREAD_ATTRIBUTE_LIST l;
    ~ListGuard() { DeleteProcThreadAttributeList(l); }
  } guard{list};
  HANDLE inherited[1] = {write_end.get()};
  if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                 sizeof inherited, nullptr, nullptr))
    ThrowStart(program, GetLastError());

  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = nullptr;
  startup.StartupInfo.hStdOutput = nullptr;
  startup.StartupInfo.hStdError = write_end.get();
  startup.lpAttributeList = list;

  std::wstring wide_program = win::Wide(program);
  std::wstring line;
  AppendQuoted(line, wide_program);
  for (const auto& a : args) AppendQuoted(line, win::Wide(a));
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(wide_program.c_str(), line.data(), nullptr, nullptr, TRUE,
                      EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                      nullptr, nullptr, &startup.StartupInfo, &child)) {
    ThrowStart(program, GetLastError());
  }
  Handle process(child.hProcess), thread(child.hThread);
  write_end.Reset();  // the pipe ends when the child's copy closes

  ProcessResult result;
  char buffer[512];
  DWORD n = 0;
  while (ReadFile(read_end.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
    result.error_output.append(buffer, n);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  result.exit_code = GetExitCodeProcess(process.get(), &code) ? static_cast<int>(code) : -1;
  return result;
}

}  // namespace win

// The library waits on the child's own process handle, which nothing in the host can take.
void TakeOutcomeChannel() {}
void ReportOutcome(int) {}

// An interactive window station (a service's is not visible).
bool DisplayAvailable() {
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags{};
  if (!station || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr))
    return false;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void RandomBytes(unsigned char* out, std::size_t size) {
  if (BCryptGenRandom(nullptr, out, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
    throw std::runtime_error("the system's random source cannot be read");
}

}  // namespace velquora::platform
