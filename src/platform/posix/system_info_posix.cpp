#include <pwd.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/posix_support.h"
#include "platform/system_info.h"

namespace velquora::platform {
namespace {

// The user's own folders are the user's alone, whatever the host's umask: a folder others may
// write to in the path would let them swap what is below it.
bool MakeFolders(const std::string& path) {
  for (std::size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos == path.size() || path[pos] == '/') {
      std::string part = path.substr(0, pos);
      if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

std::optional<std::string> UserDataFolder(bool create) {
  std::string path;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    path = xdg;
  } else if (auto home = posix::HomeFolder()) {
    path = *home + "/.local/share";
  } else {
    return std::nullopt;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (create && !MakeFolders(path)) return std::nullopt;
  return path;
}

}  // namespace

std::optional<std::string> SpecialFolderPath(SpecialFolder folder, bool create) {
  switch (folder) {
    case SpecialFolder::kCommonAppData:
      // The machine-wide folder only when this process may create folders in it; callers fall
      // back to the user's folder themselves, and know that it is not shared.
      if (access("/var/lib", W_OK | X_OK) == 0) return std::string("/var/lib");
      return std::nullopt;
    case SpecialFolder::kUserAppData:
      return UserDataFolder(create);
    case SpecialFolder::kTemp: {
      const char* tmp = std::getenv("TMPDIR");
      std::string path = (tmp && *tmp == '/') ? tmp : "/tmp";
      while (path.size() > 1 && path.back() == '/') path.pop_back();
      return path;
    }
  }
  return std::nullopt;
}

std::string SystemDescription() {
  utsname u{};
  if (uname(&u) != 0) return "Unknown ";
  std::string name = u.sysname;
  std::ifstream os("/etc/os-release");
  for (std::string line; std::getline(os, line);) {
    if (line.rfind("NAME=", 0) == 0) {
      name = line.substr(5);
      if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
      break;
    }
  }
  int major = 0, minor = 0, build = 0;
  std::sscanf(u.release, "%d.%d.%d", &major, &minor, &build);
  return name + " (" + std::to_string(major) + "." + std::to_string(minor) + "." +
         std::to_string(build) + ")";
}

namespace posix {

std::optional<std::string> HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') {
    std::string path = home;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
  }
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/') {
    return std::string(found->pw_dir);
  }
  return std::nullopt;
}

}  // namespace posix
}  // namespace velquora::platform
