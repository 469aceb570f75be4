#include <algorithm>
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

// What is kept of the program's output: its end, where the program says why it failed. All of it
// is read, so a chatty program never blocks; the pipe holds as much, so one that writes its
// message and exits never waits for the reader.
constexpr std::size_t kOutputKept = 64 * 1024;
constexpr DWORD kPipeSize = 64 * 1024;
// How often the pipe is emptied while the program runs.
constexpr DWORD kPollMilliseconds = 100;

// Reads what the pipe holds now, never waiting for more, keeping the last `limit` bytes. A pipe
// whose writers are all gone reports an error and is left alone.
void TakeAvailable(HANDLE pipe, std::string& out, std::size_t limit) {
  DWORD available = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return;
  char buffer[4096];
  // Only what was there when looked at: a writer that keeps writing cannot hold the caller.
  while (available > 0) {
    DWORD n = 0;
    if (!ReadFile(pipe, buffer, std::min<DWORD>(available, sizeof buffer), &n, nullptr) || n == 0)
      return;
    out.append(buffer, n);
    if (out.size() > limit) out.erase(0, out.size() - limit);
    available -= n;
  }
}

[[noreturn]] void ThrowStart(const std::string& program, DWORD error) {
  throw std::runtime_error(program + ": " + win::ErrorText(error));
}

}  // namespace

namespace win {

// The child inherits exactly one handle, the write end of its standard error pipe: nothing of
// the host's (sockets, files) leaks into it.
//
// The program's outcome is its own exit, not the end of that pipe: what it starts may hold the
// pipe for as long as it lives (a browser; under wine, the desktop process that the session's
// first window starts). So the pipe is only read as far as it holds data, between short waits on
// the process handle; once the process has exited, what it left there is taken and the rest
// ignored.
ProcessResult RunAndWait(const std::string& program, const std::vector<std::string>& args) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE read_raw = nullptr, write_raw = nullptr;
  if (!CreatePipe(&read_raw, &write_raw, &inherit, kPipeSize)) ThrowStart(program, GetLastError());
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
  DWORD waited;
  while ((waited = WaitForSingleObject(process.get(), kPollMilliseconds)) == WAIT_TIMEOUT)
    TakeAvailable(read_end.get(), result.error_output, kOutputKept);
  // What the program wrote before it exited is in the pipe now; what its children write later
  // is not waited for.
  TakeAvailable(read_end.get(), result.error_output, kOutputKept);
  DWORD code = 0;
  if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.get(), &code))
    result.exit_code = static_cast<int>(code);
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
