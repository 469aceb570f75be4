#pragma once
// Small helpers the POSIX side of the platform shares (only for src/platform/posix).
#include <unistd.h>

#include <optional>
#include <string>

namespace velquora::platform::posix {

// Owns one descriptor and closes it.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// HOME when it is a rooted path (without a trailing slash), else the home folder of the
// effective user's account; nothing when neither is known. A relative HOME would put the user's
// files wherever the host happens to run.
std::optional<std::string> HomeFolder();

}  // namespace velquora::platform::posix
