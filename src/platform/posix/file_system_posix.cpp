#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
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

std::string Quoted(const std::string& what, const std::string& path) {
  return what + " \"" + path + "\"";
}

// `what "path": system text` for the error in errno, read before anything else may change it.
std::string ErrnoText(const std::string& what, const std::string& path) {
  int err = errno;
  return Quoted(what, path) + ": " + std::strerror(err);
}

// Writes every byte; false with errno set when a write fails (what was written stays).
bool WriteAll(int fd, std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Open errors that mean the name is there but is no regular file: a link (O_NOFOLLOW), a pipe
// nobody reads (O_NONBLOCK), a folder, a device without a driver.
bool NamesNoRegularFile(int err) {
  return err == ELOOP || err == ENXIO || err == EISDIR || err == ENODEV;
}

// Checks the name without opening it, so a device or pipe planted under it is never opened.
// True when the name is absent or a regular file (not a link).
bool AbsentOrRegular(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return true;
  return S_ISREG(st.st_mode);
}

// Opens without blocking and without following a link, and keeps what turned out to be a
// regular file. -1 with `refused` set for anything else.
int OpenRegular(const std::string& path, int flags, mode_t mode, bool& refused) {
  refused = false;
  if (!AbsentOrRegular(path)) {
    refused = true;
    return -1;
  }
  int fd = open(path.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) {
    refused = NamesNoRegularFile(errno);
    return -1;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    refused = true;
    close(fd);
    return -1;
  }
  // O_NONBLOCK stays: it has no effect on a regular file, and clearing it would cost two more
  // system calls on every log record.
  return fd;
}

constexpr char kNotRegular[] = "Not a regular file";

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

  AppendResult AppendExclusive(const std::string& path, std::string_view bytes,
                               const AppendOptions& options) override {
    constexpr int kFlags = O_WRONLY | O_APPEND;
    const mode_t mode = options.shared ? 0666 : 0600;
    bool refused = false;
    bool created = false;
    // Today's file exists for every record but the first of the day: open it first.
    int raw = OpenRegular(path, kFlags, 0, refused);
    if (raw < 0 && !refused && errno == ENOENT) {
      created = true;
      raw = OpenRegular(path, kFlags | O_CREAT | O_EXCL, mode, refused);
      if (raw < 0 && !refused && errno == EEXIST) {  // another writer made it just now
        created = false;
        raw = OpenRegular(path, kFlags, 0, refused);
      }
    }
    if (raw < 0) {
      if (refused) return {AppendStatus::kRefused, Quoted(kNotRegular, path)};
      return {AppendStatus::kFailed, ErrnoText("Cannot open log file", path)};
    }
    Fd fd(raw);
    if (created && options.shared) (void)fchmod(fd.get(), 0666);  // whatever the umask

    auto deadline = std::chrono::steady_clock::now() + options.lock_wait;
    while (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        return {AppendStatus::kFailed, ErrnoText("Cannot lock log file", path)};
      }
      if (std::chrono::steady_clock::now() >= deadline)
        return {AppendStatus::kBusy, Quoted("Log file is busy", path)};
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // Under the lock the end of the file is ours: every writer appends only while holding it.
    struct stat st {};
    if (fstat(fd.get(), &st) != 0)
      return {AppendStatus::kFailed, ErrnoText("Cannot read log file", path)};
    if (WriteAll(fd.get(), bytes)) return {};
    std::string message = ErrnoText("Cannot write log file", path);
    if (ftruncate(fd.get(), st.st_size) != 0) {
      int err = errno;
      message += "; the partial record could not be removed: ";
      message += std::strerror(err);
    }
    return {AppendStatus::kFailed, std::move(message)};
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
    if (!WriteAll(fd.get(), bytes)) ThrowErrno("Cannot write file", path);
  }

  void RemoveAll(const std::string& path) override {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }

  std::string ReadAll(const std::string& path) override {
    bool refused = false;
    int raw = OpenRegular(path, O_RDONLY, 0, refused);
    if (raw < 0) {
      if (refused) throw std::runtime_error(Quoted(kNotRegular, path));
      ThrowErrno("Cannot open file", path);
    }
    Fd fd(raw);
    std::string out;
    struct stat st {};
    if (fstat(fd.get(), &st) == 0 && st.st_size > 0)
      out.reserve(static_cast<std::size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      ssize_t n = read(fd.get(), buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowErrno("Cannot read file", path);
      }
      if (n == 0) break;
      out.append(buffer, static_cast<std::size_t>(n));
    }
    return out;
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace velquora::platform
