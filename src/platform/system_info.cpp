#include "platform/system_info.h"

namespace velquora::platform {

std::optional<std::string> DataFolder() {
  auto folder = SpecialFolderPath(SpecialFolder::kCommonAppData, true);
  if (!folder) folder = SpecialFolderPath(SpecialFolder::kUserAppData, true);
  if (!folder) folder = SpecialFolderPath(SpecialFolder::kTemp, false);
  return folder;
}

bool IsRootedPath(std::string_view path) {
  if (!path.empty() && (path[0] == '/' || path[0] == kPathSeparator)) return true;
  if constexpr (kPathSeparator == '\\') {
    char drive = path.empty() ? '\0' : static_cast<char>(path[0] | 0x20);
    return path.size() >= 2 && path[1] == ':' && drive >= 'a' && drive <= 'z';
  }
  return false;
}

}  // namespace velquora::platform
