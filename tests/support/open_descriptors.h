#pragma once
// The descriptors this process holds on a file, read from /proc/self/fd (Linux only).
#include <filesystem>
#include <string>
#include <vector>

namespace velquora::test {

inline std::vector<int> DescriptorsOn(const std::string& path) {
  std::vector<int> fds;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (std::filesystem::read_symlink(e.path(), ec) == path)
      fds.push_back(std::stoi(e.path().filename().string()));
  }
  return fds;
}

inline int OpenDescriptorsOn(const std::string& path) {
  return static_cast<int>(DescriptorsOn(path).size());
}

}  // namespace velquora::test
