#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "platform/file_system.h"

namespace velquora::platform {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " \"" + path + "\": " + std::strerror(errno));
}

// A closed descriptor on every path out.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowErrno("Cannot write file", path);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

// How long a writer waits for another writer's append before giving up.
constexpr auto kLockWait = std::chrono::seconds(5);

class PosixFileSystem final : public FileSystem {
 public:
  bool DirectoryExists(const std::string& path) override {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool FileExists(const std::string& path) override {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  void CreateDirectories(const std::string& path) override {
    for (std::size_t pos = 1; pos <= path.size(); ++pos) {
      if (pos != path.size() && path[pos] != '/') continue;
      std::string part = path.substr(0, pos);
      if (part.empty() || part.back() == '/') continue;
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST)
        ThrowErrno("Cannot create folder", part);
    }
    if (!DirectoryExists(path)) {
      errno = ENOTDIR;
      ThrowErrno("Cannot create folder", path);
    }
  }

  void GrantEveryoneFullAccess(const std::string& path) override {
    // Sticky and world-writable, like /tmp: everyone may add files, nobody may remove others'.
    (void)chmod(path.c_str(), 01777);
  }

  void AppendExclusive(const std::string& path, std::string_view bytes) override {
    constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC;
    bool created = true;
    int raw = open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0666);
    if (raw < 0 && errno == EEXIST) {
      created = false;
      raw = open(path.c_str(), kFlags);
    }
    if (raw < 0) ThrowErrno("Cannot open log file", path);
    Fd fd(raw);
    if (created) (void)fchmod(fd.get(), 0666);  // whatever the umask
    auto deadline = std::chrono::steady_clock::now() + kLockWait;
    while (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) ThrowErrno("Cannot lock log file", path);
      if (std::chrono::steady_clock::now() > deadline) ThrowErrno("Log file is busy", path);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    WriteAll(fd.get(), bytes, path);
  }

  std::vector<std::string> ListNames(const std::string& folder) override {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return names;
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
    return names;
  }

  std::optional<std::int64_t> LastWriteTimeNs(const std::string& path) override {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return std::nullopt;
    return std::int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  }

  bool CreatePrivateDirectory(const std::string& path) override {
    if (mkdir(path.c_str(), 0700) == 0) return true;
    if (errno == EEXIST) return false;
    ThrowErrno("Cannot create folder", path);
  }

  void WriteFile(const std::string& path, std::string_view bytes) override {
    int raw = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (raw < 0) ThrowErrno("Cannot create file", path);
    Fd fd(raw);
    WriteAll(fd.get(), bytes, path);
  }

  void RemoveAll(const std::string& path) override {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }

  std::string ReadAll(const std::string& path) override {
    std::ifstream in(path, std::ios::binary);
    if (!in) ThrowErrno("Cannot open file", path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace velquora::platform
