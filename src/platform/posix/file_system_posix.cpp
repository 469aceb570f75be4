#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
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

// Writes every byte; false with errno set when a write fails (what was written stays, and
// `written` says how much that is).
bool WriteAll(int fd, std::string_view bytes, std::size_t& written) {
  written = 0;
  while (written < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

bool WriteAll(int fd, std::string_view bytes) {
  std::size_t written = 0;
  return WriteAll(fd, bytes, written);
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
// regular file. -1 with `refused` set for anything else. `st` receives the open file's status.
int OpenRegular(const std::string& path, int flags, mode_t mode, bool& refused, struct stat& st) {
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
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    refused = true;
    close(fd);
    return -1;
  }
  // O_NONBLOCK stays: it has no effect on a regular file, and clearing it would cost two more
  // system calls on every log record.
  return fd;
}

int OpenRegular(const std::string& path, int flags, mode_t mode, bool& refused) {
  struct stat st {};
  return OpenRegular(path, flags, mode, refused, st);
}

constexpr char kNotRegular[] = "Not a regular file";

// Why an open log file is not one this process may append to; nullptr when it may. A file of
// another user, or one with a second name (a hard link to a file elsewhere), under today's name
// would have this process write its records wherever that user chose.
const char* ForeignFileReason(const struct stat& st) {
  if (st.st_uid != geteuid()) return "Log file belongs to another user";
  if (st.st_nlink != 1) return "Log file has another name";
  return nullptr;
}

// Bumped in a child made by fork(): a descriptor kept from before the fork shares its lock with
// the parent, so the child must open the file afresh to be kept apart from it.
std::atomic<unsigned> g_fork_generation{0};

void CountFork() {
  g_fork_generation.fetch_add(1, std::memory_order_relaxed);
}

// The file the last append went to, kept open for the next one: a log appends a record at a
// time, and opening, checking and closing the file for each cost more than the write itself.
// It is used again only while its name still leads to it (the same regular file, not a link put
// in its place, not removed), while the descriptor still is that file, and in the process that
// opened it.
class KeptAppendFile {
 public:
  KeptAppendFile() { pthread_atfork(nullptr, nullptr, &CountFork); }
  ~KeptAppendFile() { Drop(); }
  KeptAppendFile(const KeptAppendFile&) = delete;
  KeptAppendFile& operator=(const KeptAppendFile&) = delete;

  // The kept descriptor when it still is the file named `path` and still ours alone; -1
  // otherwise.
  int Find(const std::string& path) {
    if (fd_ < 0) return -1;
    struct stat st {};
    if (generation_ != g_fork_generation.load(std::memory_order_relaxed) || path != path_ ||
        lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != dev_ ||
        st.st_ino != ino_) {
      Drop();
      return -1;
    }
    // The descriptor must still be ours: a host that closed it behind our back may have been
    // given the same number for a file or socket of its own, which must neither receive log
    // records nor be closed by us.
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != dev_ || st.st_ino != ino_) {
      Forget();
      return -1;
    }
    if (ForeignFileReason(st)) {  // given a second name since; opened afresh, it is refused
      Drop();
      return -1;
    }
    return fd_;
  }

  // Takes over `fd`, open on the regular file `st` of `path`.
  void Keep(const std::string& path, int fd, const struct stat& st) {
    Drop();
    fd_ = fd;
    path_ = path;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    generation_ = g_fork_generation.load(std::memory_order_relaxed);
  }

  // Lets go of a descriptor that is no longer ours, without closing it.
  void Forget() {
    fd_ = -1;
    path_.clear();
  }

  void Drop() {
    // After a fork the descriptor is the parent's too: closing the child's copy leaves the
    // parent's file and lock as they are.
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    path_.clear();
  }

 private:
  int fd_ = -1;
  std::string path_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  unsigned generation_ = 0;
};

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
      // Nobody but the owner may put anything into a folder on the way to a log.
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
        ThrowErrno("Cannot create folder", part);
    }
    if (!DirectoryExists(path)) {
      errno = ENOTDIR;
      ThrowErrno("Cannot create folder", path);
    }
  }

  void GrantEveryoneFullAccess(const std::string& path) override {
    // Only a process that may create folders in /var/lib logs here; every other one logs in its
    // user's own folder. So the folder is its creator's to write and everyone's to read, and a
    // stranger can neither read, forge nor hold up another user's records through it.
    (void)chmod(path.c_str(), 0755);
  }

  AppendResult AppendExclusive(const std::string& path, std::string_view bytes,
                               const AppendOptions& options) override {
    std::lock_guard guard(kept_mutex_);
    int fd = kept_.Find(path);
    if (fd < 0) {
      AppendResult opened = OpenForAppend(path, options, fd);
      if (opened.status != AppendStatus::kWritten) return opened;
    }

    auto deadline = std::chrono::steady_clock::now() + options.lock_wait;
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno != EWOULDBLOCK) {
        AppendResult failed{AppendStatus::kFailed, ErrnoText("Cannot lock log file", path)};
        kept_.Drop();
        return failed;
      }
      if (std::chrono::steady_clock::now() >= deadline)
        return {AppendStatus::kBusy, Quoted("Log file is busy", path)};
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // Under the lock the end of the file is ours: every writer appends only while holding it.
    AppendResult result;
    std::size_t written = 0;
    if (!WriteAll(fd, bytes, written)) {
      result = {AppendStatus::kFailed, ErrnoText("Cannot write log file", path)};
      struct stat st {};
      if (written > 0 &&
          (fstat(fd, &st) != 0 || ftruncate(fd, st.st_size - static_cast<off_t>(written)) != 0)) {
        int err = errno;
        result.message += "; the partial record could not be removed: ";
        result.message += std::strerror(err);
      }
    }
    while (flock(fd, LOCK_UN) != 0 && errno == EINTR) {
    }
    if (result.status != AppendStatus::kWritten) kept_.Drop();  // a closed file holds no lock
    return result;
  }

  void CloseKeptFiles() override {
    std::lock_guard guard(kept_mutex_);
    kept_.Drop();
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

  FileTail ReadTail(const std::string& path, std::uint64_t from, std::uint64_t limit) override {
    bool refused = false;
    struct stat st {};
    int raw = OpenRegular(path, O_RDONLY, 0, refused, st);
    if (raw < 0) {
      if (refused) throw std::runtime_error(Quoted(kNotRegular, path));
      ThrowErrno("Cannot open file", path);
    }
    Fd fd(raw);
    FileTail tail;
    tail.size = static_cast<std::uint64_t>(st.st_size);
    tail.volume = static_cast<std::uint64_t>(st.st_dev);
    tail.index = static_cast<std::uint64_t>(st.st_ino);
    tail.offset = std::min(std::max(from, tail.size > limit ? tail.size - limit : 0), tail.size);
    // Up to the size seen now: what is appended meanwhile is read the next time.
    tail.bytes.resize(static_cast<std::size_t>(tail.size - tail.offset));
    std::size_t done = 0;
    while (done < tail.bytes.size()) {
      ssize_t n = pread(fd.get(), tail.bytes.data() + done, tail.bytes.size() - done,
                        static_cast<off_t>(tail.offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        ThrowErrno("Cannot read file", path);
      }
      if (n == 0) break;  // cut short meanwhile
      done += static_cast<std::size_t>(n);
    }
    tail.bytes.resize(done);
    tail.size = tail.offset + done;
    return tail;
  }

 private:
  // Opens (or creates) `path` for appending and keeps it; `fd` is the kept descriptor.
  AppendResult OpenForAppend(const std::string& path, const AppendOptions& options, int& fd) {
    constexpr int kFlags = O_WRONLY | O_APPEND;
    const mode_t mode = options.shared ? 0644 : 0600;
    bool refused = false;
    bool created = false;
    struct stat st {};
    // Today's file exists for every record but the first of the day: open it first.
    fd = OpenRegular(path, kFlags, 0, refused, st);
    if (fd < 0 && !refused && errno == ENOENT) {
      created = true;
      fd = OpenRegular(path, kFlags | O_CREAT | O_EXCL, mode, refused, st);
      if (fd < 0 && !refused && errno == EEXIST) {  // another writer made it just now
        created = false;
        fd = OpenRegular(path, kFlags, 0, refused, st);
      }
    }
    if (fd < 0) {
      if (refused) return {AppendStatus::kRefused, Quoted(kNotRegular, path)};
      return {AppendStatus::kFailed, ErrnoText("Cannot open log file", path)};
    }
    if (const char* reason = ForeignFileReason(st)) {
      close(fd);
      return {AppendStatus::kRefused, Quoted(reason, path)};
    }
    if (created && options.shared) {
      (void)fchmod(fd, 0644);  // whatever the umask
    } else if (!created && (st.st_mode & 022) != 0) {
      // Earlier versions left log files writable by everyone: from now on only their owner
      // (this process's user, checked above) writes to them.
      (void)fchmod(fd, st.st_mode & 0755);
    }
    kept_.Keep(path, fd, st);
    return {};
  }

  std::mutex kept_mutex_;
  KeptAppendFile kept_;
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace velquora::platform
