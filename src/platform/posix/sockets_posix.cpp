#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <type_traits>

#include "platform/sockets.h"

namespace velquora::platform {
namespace {

using Clock = std::chrono::steady_clock;

// What is left of `timeout_ms` since `start`, never below 0.
int RemainingMs(Clock::time_point start, int timeout_ms) {
  auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  return spent >= timeout_ms ? 0 : static_cast<int>(timeout_ms - spent);
}

// The receive time-out set on the socket, in milliseconds (0: none).
int ReceiveTimeoutMs(int fd) {
  timeval tv{};
  socklen_t len = sizeof tv;
  if (getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, &len) != 0) return 0;
  return static_cast<int>(tv.tv_sec * 1000 + tv.tv_usec / 1000);
}

bool SetBlocking(int fd, bool blocking) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

// The result of a send or receive, with what ended it when it failed.
IoResult Result(long n) {
  if (n >= 0) return {n, false};
  const int error = errno;
  if (error == EINTR) return {n, true};
  IoFailure failure = IoFailure::kOther;
  if (error == EAGAIN || error == EWOULDBLOCK)
    failure = IoFailure::kTimedOut;
  else if (error == ECONNRESET)
    failure = IoFailure::kReset;
  else if (error == EPIPE)
    failure = IoFailure::kClosed;
  char buffer[256] = {};
  // The GNU strerror_r may return a static text instead of filling the buffer.
  auto text = strerror_r(error, buffer, sizeof buffer);
  std::string reason;
  if constexpr (std::is_same_v<decltype(text), char*>)
    reason = text ? text : buffer;
  else
    reason = buffer;
  return {n, false, failure, std::move(reason)};
}

class PosixSockets final : public SocketApi {
 public:
  SocketHandle OpenTcp() override {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) return kNoSocket;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
  }

  bool Connect(SocketHandle s, std::uint32_t ipv4, std::uint16_t port, int timeout_ms) override {
    int fd = static_cast<int>(s);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(ipv4);
    if (!SetBlocking(fd, false)) return false;
    int rc = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (rc != 0) {
      if (errno != EINPROGRESS && errno != EINTR) return false;
      // A host whose signals interrupt the wait gets the time-out it asked for, not a new one
      // after every signal.
      pollfd p{fd, POLLOUT, 0};
      const Clock::time_point start = Clock::now();
      int ready;
      do {
        ready = poll(&p, 1, RemainingMs(start, timeout_ms));
      } while (ready < 0 && errno == EINTR);
      if (ready <= 0) return false;
      int err = 0;
      socklen_t len = sizeof err;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return false;
    }
    return SetBlocking(fd, true);
  }

  bool SetReceiveTimeout(SocketHandle s, int timeout_ms) override {
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    return setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
  }

  IoResult Send(SocketHandle s, const void* data, std::size_t size) override {
    return Result(::send(static_cast<int>(s), data, size, MSG_NOSIGNAL));
  }

  // Waits at most the socket's receive time-out in all. A signal ends a blocking receive early
  // and starting it again would start the whole time-out again, so a host with a timer signal
  // could keep a call waiting for ever on a silent scale: after a signal, the rest of the wait
  // is measured here.
  IoResult Receive(SocketHandle s, void* data, std::size_t size) override {
    int fd = static_cast<int>(s);
    const Clock::time_point start = Clock::now();
    int flags = 0;
    for (;;) {
      long n = ::recv(fd, data, size, flags);
      if (n >= 0) return {n, false};
      if (errno != EINTR && !(flags && (errno == EAGAIN || errno == EWOULDBLOCK))) return Result(n);
      flags = MSG_DONTWAIT;
      int timeout_ms = ReceiveTimeoutMs(fd);
      int left = timeout_ms > 0 ? RemainingMs(start, timeout_ms) : -1;
      if (left == 0) {
        errno = EAGAIN;
        return Result(-1);
      }
      pollfd p{fd, POLLIN, 0};
      int ready = poll(&p, 1, left);
      if (ready == 0) {
        errno = EAGAIN;
        return Result(-1);
      }
      if (ready < 0 && errno != EINTR) return Result(-1);
    }
  }

  long Pending(SocketHandle s) override {
    int n = 0;
    if (ioctl(static_cast<int>(s), FIONREAD, &n) != 0) return -1;
    return n;
  }

  void ShutdownAndClose(SocketHandle s) override {
    shutdown(static_cast<int>(s), SHUT_RDWR);
    close(static_cast<int>(s));
  }
};

}  // namespace

SocketApi& RealSockets() {
  static PosixSockets api;
  return api;
}

bool ParseIPv4(std::string_view text, std::uint32_t& address) {
  in_addr a{};
  if (inet_pton(AF_INET, std::string(text).c_str(), &a) != 1) return false;
  address = ntohl(a.s_addr);
  return true;
}

}  // namespace velquora::platform
