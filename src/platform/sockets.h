#pragma once
// TCP client primitives. The transport's logic sits above this seam; tests substitute an
// implementation to inject interrupted calls, refusals and short sends.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velquora::platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// What ended a failed send or receive, for the failures callers tell apart.
enum class IoFailure {
  kNone,
  kTimedOut,  // the receive wait ran out
  kClosed,    // the peer had closed the connection (a send)
  kReset,     // the peer reset the connection
  kOther,
};

struct IoResult {
  long bytes;        // bytes moved; negative on failure
  bool interrupted;  // the call was interrupted by a signal and may be repeated
  IoFailure failure = IoFailure::kNone;
  std::string reason = {};  // the system's words for a failure, UTF-8
};

class SocketApi {
 public:
  virtual ~SocketApi() = default;
  // A TCP/IPv4 stream socket, close-on-exec, with Nagle's delay off; kNoSocket on failure.
  virtual SocketHandle OpenTcp() = 0;
  // Connects within `timeout_ms` (non-blocking connect, then back to blocking mode).
  virtual bool Connect(SocketHandle s, std::uint32_t ipv4, std::uint16_t port, int timeout_ms) = 0;
  virtual bool SetReceiveTimeout(SocketHandle s, int timeout_ms) = 0;
  // Never raises SIGPIPE on a connection the peer has closed.
  virtual IoResult Send(SocketHandle s, const void* data, std::size_t size) = 0;
  virtual IoResult Receive(SocketHandle s, void* data, std::size_t size) = 0;
  // Bytes that a receive would deliver right now, without waiting: 0 when nothing has arrived
  // (or the peer has only closed), negative on failure. Lets the exchange tell an answer from
  // bytes the peer sent out of turn.
  virtual long Pending(SocketHandle s) = 0;
  virtual void ShutdownAndClose(SocketHandle s) = 0;
};

SocketApi& RealSockets();

// Dotted IPv4 with exactly four decimal parts; the address in host byte order.
bool ParseIPv4(std::string_view text, std::uint32_t& address);

}  // namespace velquora::platform
