#include <memory>

#include "platform/library_file.h"
#include "platform/win/win_text.h"

namespace velquora::platform {

std::string OwnLibraryPath() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&OwnLibraryPath), &module)) {
    return {};
  }
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return win::Narrow(path);
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

// The fixed part of the file's version resource.
std::optional<std::array<std::uint16_t, 4>> ReadFileVersion(const std::string& path) {
  std::wstring wide = win::Wide(path);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::unique_ptr<unsigned char[]> block(new unsigned char[size]);
  if (!GetFileVersionInfoW(wide.c_str(), 0, size, block.get())) return std::nullopt;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(block.get(), L"\\", reinterpret_cast<void**>(&info), &length) || !info ||
      length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != 0xFEEF04BD) {
    return std::nullopt;
  }
  return std::array<std::uint16_t, 4>{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                                      HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
}

}  // namespace velquora::platform
