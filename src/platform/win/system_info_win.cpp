#include <shlobj.h>

#include "platform/system_info.h"
#include "platform/win/win_text.h"

namespace velquora::platform {
namespace {

std::optional<std::string> KnownFolder(REFKNOWNFOLDERID id, bool create) {
  wchar_t* path = nullptr;
  HRESULT hr = SHGetKnownFolderPath(id, create ? DWORD{KF_FLAG_CREATE} : DWORD{0}, nullptr, &path);
  std::optional<std::string> result;
  if (SUCCEEDED(hr) && path && *path) {
    std::wstring text = path;
    while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
    result = win::Narrow(text);
  }
  CoTaskMemFree(path);
  return result;
}

std::optional<std::string> TempFolder(bool create) {
  wchar_t buffer[MAX_PATH + 2];
  DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH + 1) return std::nullopt;
  std::wstring text(buffer, n);
  while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/')) text.pop_back();
  if (create) CreateDirectoryW(text.c_str(), nullptr);
  return win::Narrow(text);
}

// The product name as the system itself gives it ("Windows 10 Pro").
std::string ProductName() {
  wchar_t name[256];
  DWORD size = sizeof name;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                   L"ProductName", RRF_RT_REG_SZ, nullptr, name, &size) == ERROR_SUCCESS &&
      name[0]) {
    return win::Narrow(std::wstring(name));
  }
  return "Windows";
}

}  // namespace

std::optional<std::string> SpecialFolderPath(SpecialFolder folder, bool create) {
  switch (folder) {
    case SpecialFolder::kCommonAppData:
      return KnownFolder(FOLDERID_ProgramData, create);
    case SpecialFolder::kUserAppData:
      return KnownFolder(FOLDERID_RoamingAppData, create);
    case SpecialFolder::kTemp:
      return TempFolder(create);
  }
  return std::nullopt;
}

// The real version from the kernel: GetVersionEx answers what the program's manifest claims.
std::string SystemDescription() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto get_version = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                                 reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")))
                           : nullptr;
  OSVERSIONINFOW v{};
  v.dwOSVersionInfoSize = sizeof v;
  if (!get_version || get_version(&v) != 0) return "Unknown ";
  return ProductName() + " (" + std::to_string(v.dwMajorVersion) + "." +
         std::to_string(v.dwMinorVersion) + "." + std::to_string(v.dwBuildNumber) + ")";
}

}  // namespace velquora::platform
