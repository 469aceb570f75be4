// The viewer program carried inside the DLL, written to the user's own local application-data
// folder and started from there.
#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "platform/carried_program.h"
#include "platform/win/process_win.h"
#include "platform/win/win_text.h"

namespace velquora::platform {
namespace {

using win::Handle;
using win::Wide;

[[noreturn]] void Fail(const std::string& what, const std::string& path, DWORD error) {
  throw std::runtime_error(what + " \"" + path + "\": " + win::ErrorText(error));
}

// %LOCALAPPDATA%: per user, not roaming, closed to other users by the profile's own rights.
std::string CacheBase() {
  wchar_t* path = nullptr;
  std::string base;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &path)) &&
      path)
    base = win::Narrow(std::wstring(path));
  CoTaskMemFree(path);
  if (base.empty())
    throw std::runtime_error("Не удалось определить папку данных приложений пользователя");
  return base;
}

// A folder, never a link planted in its place.
void MakeFolder(const std::string& path) {
  std::wstring wide = Wide(path);
  if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    Fail("Не удалось создать папку", path, GetLastError());
  DWORD a = GetFileAttributesW(wide.c_str());
  if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) ||
      (a & FILE_ATTRIBUTE_REPARSE_POINT))
    throw std::runtime_error("Папка \"" + path + "\" подменена");
}

// The file opened for reading, with writers and deleters kept out for as long as the handle
// lives, when it is a plain file holding exactly `image`; otherwise an invalid handle.
HANDLE OpenIfIntact(const std::wstring& path, std::string_view image) {
  Handle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.valid()) return INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER size{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      !GetFileSizeEx(file.get(), &size) ||
      static_cast<std::uint64_t>(size.QuadPart) != image.size())
    return INVALID_HANDLE_VALUE;
  std::string bytes(image.size(), '\0');
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1 << 20));
    if (!ReadFile(file.get(), bytes.data() + done, chunk, &n, nullptr) || n == 0)
      return INVALID_HANDLE_VALUE;
    done += n;
  }
  if (bytes != image) return INVALID_HANDLE_VALUE;
  return file.Release();
}

// Written under a temporary name and moved over the final one: nobody runs half a program, and
// whatever was there (a changed file, a link) is replaced.
void WriteProgram(const std::string& folder, const std::string& name, std::string_view image) {
  std::string temporary =
      folder + "\\." + name + "." + std::to_string(GetCurrentProcessId()) + ".tmp";
  std::wstring wide_temporary = Wide(temporary);
  DeleteFileW(wide_temporary.c_str());
  {
    Handle file(CreateFileW(wide_temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) Fail("Не удалось записать программу", temporary, GetLastError());
    std::size_t done = 0;
    while (done < image.size()) {
      DWORD n = 0;
      DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(image.size() - done, 1 << 20));
      if (!WriteFile(file.get(), image.data() + done, chunk, &n, nullptr) || n == 0) {
        DWORD error = GetLastError();
        file = Handle();
        DeleteFileW(wide_temporary.c_str());
        Fail("Не удалось записать программу", temporary, error);
      }
      done += n;
    }
  }
  std::string path = folder + "\\" + name;
  if (!MoveFileExW(wide_temporary.c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DWORD error = GetLastError();
    DeleteFileW(wide_temporary.c_str());
    Fail("Не удалось записать программу", path, error);
  }
}

}  // namespace

std::string CarriedProgramFolder() {
  return CacheBase() + "\\Korvanta\\w_velquora";
}

ProcessResult RunCarriedProgram(std::string_view base_name, std::string_view image,
                                const std::vector<std::string>& args) {
  std::string base = CacheBase();
  MakeFolder(base + "\\Korvanta");
  std::string folder = CarriedProgramFolder();
  MakeFolder(folder);
  std::string name = CarriedProgramFileName(base_name, image) + ".exe";  // Windows runs by suffix
  std::string path = folder + "\\" + name;
  std::wstring wide = Wide(path);
  Handle checked(OpenIfIntact(wide, image));
  if (!checked.valid()) {
    WriteProgram(folder, name, image);
    checked.Reset(OpenIfIntact(wide, image));
    if (!checked.valid())
      throw std::runtime_error("Программа \"" + path + "\" изменилась сразу после записи");
  }
  // The checked handle stays open while the program starts: it shares reading only, so the
  // file cannot be changed, replaced or deleted between the check and the start.
  return win::RunAndWait(path, args);
}

}  // namespace velquora::platform
