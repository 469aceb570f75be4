#include "platform/library_file.h"

namespace velquora::platform {

std::string FileVersionText(const std::string& path) {
  auto v = ReadFileVersion(path);
  if (!v) return "0.0.0.0";
  return std::to_string((*v)[0]) + "." + std::to_string((*v)[1]) + "." + std::to_string((*v)[2]) +
         "." + std::to_string((*v)[3]);
}

}  // namespace velquora::platform
