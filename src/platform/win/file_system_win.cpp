#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "platform/file_system.h"
#include "platform/win/log_folder_rights.h"
#include "platform/win/win_text.h"

namespace velquora::platform {
namespace {

using win::Handle;
using win::Narrow;
using win::ThrowWin32;
using win::Wide;

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Far past any log's size: a lock there guards appends without keeping readers out.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFE, kLockOffsetHigh = 0x7FFFFFFF;

// ERROR_SUCCESS when every byte is written.
DWORD WriteAll(HANDLE h, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(h, p, chunk, &written, nullptr)) return GetLastError();
    if (written == 0) return ERROR_HANDLE_DISK_FULL;
    p += written;
    left -= written;
  }
  return ERROR_SUCCESS;
}

constexpr char kNotRegular[] = "Not a regular file";

std::string Quoted(const std::string& what, const std::string& path) {
  return what + " \"" + path + "\"";
}

// Cuts a torn append back to `size`. The append handle may only add data, so this takes a
// second one that may write; a writer without that right leaves the partial record.
bool CutBack(const std::wstring& path, LARGE_INTEGER size) {
  Handle file(CreateFileW(path.c_str(), GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return file.valid() && SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) &&
         SetEndOfFile(file.get());
}

// A security descriptor made of one SDDL text; freed with it.
struct LocalFreeDeleter {
  void operator()(void* p) const { LocalFree(p); }
};
using LocalBlock = std::unique_ptr<void, LocalFreeDeleter>;

// The SID text of the user this process runs as.
std::wstring CurrentUserSid() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return {};
  Handle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[size ? size : 1]);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.get(), size, &size)) return {};
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &text))
    return {};
  std::wstring sid = text;
  LocalFree(text);
  return sid;
}

// Rights for this user (and SYSTEM and Administrators, as on any profile) only; nullptr when
// the user cannot be told, leaving the folder's inherited rights.
PSECURITY_DESCRIPTOR OwnerOnlyDescriptor() {
  std::wstring sid = CurrentUserSid();
  if (sid.empty()) return nullptr;
  std::wstring sddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + sid + L")";
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd,
                                                            nullptr))
    return nullptr;
  return sd;
}

class WindowsFileSystem final : public FileSystem {
 public:
  bool DirectoryExists(const std::string& path) override {
    DWORD a = GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
  }

  bool FileExists(const std::string& path) override {
    DWORD a = GetFileAttributesW(Wide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES &&
           !(a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE));
  }

  void CreateDirectories(const std::string& path) override {
    std::wstring wide = Wide(path);
    // Skip the root: "C:\", "\\server\share\" or a leading separator.
    std::size_t start = 1;
    if (wide.size() >= 2 && wide[1] == L':') start = 3;
    if (wide.size() >= 2 && IsSeparator(wide[0]) && IsSeparator(wide[1])) {
      std::size_t server = wide.find_first_of(L"\\/", 2);
      std::size_t share =
          server == std::wstring::npos ? server : wide.find_first_of(L"\\/", server + 1);
      start = share == std::wstring::npos ? wide.size() : share + 1;
    }
    for (std::size_t pos = start; pos <= wide.size(); ++pos) {
      if (pos != wide.size() && !IsSeparator(wide[pos])) continue;
      std::wstring part = wide.substr(0, pos);
      if (part.empty() || IsSeparator(part.back())) continue;
      if (!CreateDirectoryW(part.c_str(), nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
          ThrowWin32("Cannot create folder", Narrow(part), error);
      }
    }
    if (!DirectoryExists(path)) ThrowWin32("Cannot create folder", path, ERROR_PATH_NOT_FOUND);
  }

  // The effect of the sticky, world-writable folder on Linux (see log_folder_rights.h).
  void GrantEveryoneFullAccess(const std::string& path) override {
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(win::kLogFolderRights,
                                                              SDDL_REVISION_1, &sd, nullptr))
      return;
    LocalBlock hold(sd);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted) || !present) return;
    std::wstring wide = Wide(path);
    (void)SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                nullptr, nullptr, dacl, nullptr);
  }

  // Opened with sharing, as every writer and the viewer hold the file at once; appends are
  // kept apart by a byte lock far past the end. Reparse points (links, junctions) and anything
  // but a file on a disk are refused.
  AppendResult AppendExclusive(const std::string& path, std::string_view bytes,
                               const AppendOptions& options) override {
    std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
      return {AppendStatus::kRefused, Quoted(kNotRegular, path)};
    if (wide.rfind(L"\\\\.\\", 0) == 0 || wide.rfind(L"//./", 0) == 0)
      return {AppendStatus::kRefused, Quoted(kNotRegular, path)};  // devices and pipes

    // A file this append creates for itself alone gets its owner's rights only; a shared one
    // takes the shared folder's inherited entries.
    SECURITY_ATTRIBUTES private_rights{sizeof private_rights, nullptr, FALSE};
    LocalBlock hold;
    if (!options.shared) {
      PSECURITY_DESCRIPTOR sd = OwnerOnlyDescriptor();
      hold.reset(sd);
      private_rights.lpSecurityDescriptor = sd;
    }
    auto deadline = std::chrono::steady_clock::now() + options.lock_wait;
    DWORD error = ERROR_SUCCESS;
    Handle file;
    // Another program holding the file without sharing (a virus scanner) counts as busy.
    for (;;) {
      file.Reset(CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             options.shared ? nullptr : &private_rights, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
      if (file.valid()) break;
      error = GetLastError();
      if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
        return {AppendStatus::kFailed,
                Quoted("Cannot open log file", path) + ": " + win::ErrorText(error)};
      if (std::chrono::steady_clock::now() >= deadline)
        return {AppendStatus::kBusy, Quoted("Log file is busy", path)};
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
      return {AppendStatus::kRefused, Quoted(kNotRegular, path)};

    OVERLAPPED at{};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    while (!LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                       &at)) {
      error = GetLastError();
      if (error != ERROR_LOCK_VIOLATION && error != ERROR_IO_PENDING)
        return {AppendStatus::kFailed,
                Quoted("Cannot lock log file", path) + ": " + win::ErrorText(error)};
      if (std::chrono::steady_clock::now() >= deadline)
        return {AppendStatus::kBusy, Quoted("Log file is busy", path)};
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    struct Unlock {
      HANDLE h;
      OVERLAPPED* at;
      ~Unlock() { UnlockFileEx(h, 0, 1, 0, at); }
    } unlock{file.get(), &at};

    // Under the lock the end of the file is ours: every writer appends only while holding it.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
      error = GetLastError();
      return {AppendStatus::kFailed,
              Quoted("Cannot read log file", path) + ": " + win::ErrorText(error)};
    }
    error = WriteAll(file.get(), bytes);
    if (error == ERROR_SUCCESS) return {};
    std::string message = Quoted("Cannot write log file", path) + ": " + win::ErrorText(error);
    if (!CutBack(wide, size))
      message += "; the partial record could not be removed: " + win::ErrorText(GetLastError());
    return {AppendStatus::kFailed, std::move(message)};
  }

  std::vector<std::string> ListNames(const std::string& folder) override {
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileExW(Wide(folder + "\\*").c_str(), FindExInfoBasic, &found,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") names.push_back(Narrow(name));
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
  }

  std::optional<std::int64_t> LastWriteTimeNs(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
      return std::nullopt;
    ULARGE_INTEGER t;
    t.LowPart = data.ftLastWriteTime.dwLowDateTime;
    t.HighPart = data.ftLastWriteTime.dwHighDateTime;
    constexpr std::int64_t kUnixEpochIn100ns = 116444736000000000LL;  // 1601 to 1970
    return (static_cast<std::int64_t>(t.QuadPart) - kUnixEpochIn100ns) * 100;
  }

  std::string ReadAll(const std::string& path) override {
    std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
      throw std::runtime_error(Quoted(kNotRegular, path));
    Handle file(CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
      DWORD error = GetLastError();
      ThrowWin32("Cannot open file", path, error);
    }
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
      throw std::runtime_error(Quoted(kNotRegular, path));
    std::string bytes;
    char buffer[65536];
    for (;;) {
      DWORD n = 0;
      if (!::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr)) {
        DWORD error = GetLastError();
        ThrowWin32("Cannot read file", path, error);
      }
      if (n == 0) break;
      bytes.append(buffer, n);
    }
    return bytes;
  }

  FileTail ReadTail(const std::string& path, std::uint64_t from, std::uint64_t limit) override {
    std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
      throw std::runtime_error(Quoted(kNotRegular, path));
    Handle file(CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
      DWORD error = GetLastError();
      ThrowWin32("Cannot open file", path, error);
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info))
      throw std::runtime_error(Quoted(kNotRegular, path));
    FileTail tail;
    tail.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    tail.volume = info.dwVolumeSerialNumber;
    tail.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    tail.offset = std::min(std::max(from, tail.size > limit ? tail.size - limit : 0), tail.size);
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(tail.offset);
    if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) {
      DWORD error = GetLastError();
      ThrowWin32("Cannot read file", path, error);
    }
    // Up to the size seen now: what is appended meanwhile is read the next time.
    tail.bytes.resize(static_cast<std::size_t>(tail.size - tail.offset));
    std::size_t done = 0;
    while (done < tail.bytes.size()) {
      DWORD n = 0;
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(tail.bytes.size() - done, 1 << 20));
      if (!::ReadFile(file.get(), tail.bytes.data() + done, chunk, &n, nullptr)) {
        DWORD error = GetLastError();
        ThrowWin32("Cannot read file", path, error);
      }
      if (n == 0) break;  // cut short meanwhile
      done += n;
    }
    tail.bytes.resize(done);
    tail.size = tail.offset + done;
    return tail;
  }

  // Only this user (and SYSTEM, and Administrators as on any profile) may enter it.
  bool CreatePrivateDirectory(const std::string& path) override {
    SECURITY_ATTRIBUTES sa{sizeof sa, OwnerOnlyDescriptor(), FALSE};
    LocalBlock hold(sa.lpSecurityDescriptor);
    if (CreateDirectoryW(Wide(path).c_str(), &sa)) return true;
    DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) return false;
    ThrowWin32("Cannot create folder", path, error);
  }

  void WriteFile(const std::string& path, std::string_view bytes) override {
    std::wstring wide = Wide(path);
    DWORD a = GetFileAttributesW(wide.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT))
      ThrowWin32("Cannot create file", path, ERROR_CANT_ACCESS_FILE);
    SECURITY_ATTRIBUTES sa{sizeof sa, OwnerOnlyDescriptor(), FALSE};
    LocalBlock hold(sa.lpSecurityDescriptor);
    Handle file(CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
      DWORD error = GetLastError();
      ThrowWin32("Cannot create file", path, error);
    }
    if (DWORD error = WriteAll(file.get(), bytes); error != ERROR_SUCCESS)
      ThrowWin32("Cannot write file", path, error);
  }

  void RemoveAll(const std::string& path) override { RemoveTree(Wide(path)); }

 private:
  // Junctions and links are removed themselves; what they point at is never entered.
  static void RemoveTree(const std::wstring& path) {
    DWORD a = GetFileAttributesW(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) {
      if (a & FILE_ATTRIBUTE_READONLY)
        SetFileAttributesW(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
      DeleteFileW(path.c_str());
      return;
    }
    if (!(a & FILE_ATTRIBUTE_REPARSE_POINT)) {
      WIN32_FIND_DATAW found{};
      HANDLE find = FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
      if (find != INVALID_HANDLE_VALUE) {
        do {
          std::wstring name = found.cFileName;
          if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
        } while (FindNextFileW(find, &found));
        FindClose(find);
      }
    }
    RemoveDirectoryW(path.c_str());
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static WindowsFileSystem fs;
  return fs;
}

}  // namespace velquora::platform
