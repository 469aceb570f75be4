#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "platform/sockets.h"
#include "platform/win/win_text.h"

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80
#endif

namespace velquora::platform {
namespace {

bool SetBlocking(SOCKET s, bool blocking) {
  u_long non_blocking = blocking ? 0 : 1;
  return ioctlsocket(s, FIONBIO, &non_blocking) == 0;
}

// The result of a send or receive, with what ended it when it failed.
IoResult Result(int n) {
  if (n >= 0) return {n, false};
  const int error = WSAGetLastError();
  if (error == WSAEINTR) return {n, true};
  IoFailure failure = IoFailure::kOther;
  if (error == WSAETIMEDOUT || error == WSAEWOULDBLOCK)
    failure = IoFailure::kTimedOut;
  else if (error == WSAECONNRESET || error == WSAECONNABORTED)
    failure = IoFailure::kReset;
  else if (error == WSAESHUTDOWN)
    failure = IoFailure::kClosed;
  return {n, false, failure, win::ErrorText(static_cast<DWORD>(error))};
}

SOCKET Raw(SocketHandle s) {
  return static_cast<SOCKET>(s);
}

class WindowsSockets final : public SocketApi {
 public:
  // Winsock is started once, on first use (never while the loader lock is held), and kept for
  // the life of the process: another part of the host may be using it too.
  WindowsSockets() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }

  // Overlapped, so receive time-outs fire; not inherited by the viewer program.
  SocketHandle OpenTcp() override {
    if (!started_) return kNoSocket;
    SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return kNoSocket;
    BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return static_cast<SocketHandle>(s);
  }

  bool Connect(SocketHandle handle, std::uint32_t ipv4, std::uint16_t port,
               int timeout_ms) override {
    SOCKET s = Raw(handle);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(ipv4);
    if (!SetBlocking(s, false)) return false;
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
      fd_set writable, failed;
      FD_ZERO(&writable);
      FD_ZERO(&failed);
      FD_SET(s, &writable);
      FD_SET(s, &failed);
      timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
      int ready = select(0, nullptr, &writable, &failed, &tv);
      if (ready <= 0 || FD_ISSET(s, &failed) || !FD_ISSET(s, &writable)) return false;
      int err = 0;
      int len = sizeof err;
      if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0)
        return false;
    }
    return SetBlocking(s, true);
  }

  // Winsock takes the time-out as a DWORD of milliseconds, not a timeval.
  bool SetReceiveTimeout(SocketHandle s, int timeout_ms) override {
    DWORD ms = timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : 0;
    return setsockopt(Raw(s), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms),
                      sizeof ms) == 0;
  }

  // Windows raises no signal on a closed connection; sends are cut to what an int can count.
  IoResult Send(SocketHandle s, const void* data, std::size_t size) override {
    int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    return Result(::send(Raw(s), static_cast<const char*>(data), chunk, 0));
  }

  IoResult Receive(SocketHandle s, void* data, std::size_t size) override {
    int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    return Result(::recv(Raw(s), static_cast<char*>(data), chunk, 0));
  }

  long Pending(SocketHandle s) override {
    u_long n = 0;
    if (ioctlsocket(Raw(s), FIONREAD, &n) != 0) return -1;
    return static_cast<long>(n);
  }

  void ShutdownAndClose(SocketHandle s) override {
    shutdown(Raw(s), SD_BOTH);
    closesocket(Raw(s));
  }

 private:
  bool started_ = false;
};

}  // namespace

SocketApi& RealSockets() {
  static WindowsSockets api;
  return api;
}

// Exactly four decimal parts, each 0..255, as inet_pton reads them on Linux (inet_addr would
// take "1" or "0x7f.1").
bool ParseIPv4(std::string_view text, std::uint32_t& address) {
  std::uint32_t value = 0;
  int parts = 0;
  std::size_t i = 0;
  while (parts < 4) {
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return false;
    unsigned part = 0;
    std::size_t digits = 0;
    const bool leading_zero = text[i] == '0';
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      if (leading_zero && digits == 1) return false;  // "01" is refused, as inet_pton does
      part = part * 10 + static_cast<unsigned>(text[i] - '0');
      if (++digits > 3 || part > 255) return false;
      ++i;
    }
    value = (value << 8) | part;
    ++parts;
    if (parts < 4) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
  }
  if (i != text.size()) return false;
  address = value;
  return true;
}

}  // namespace velquora::platform
