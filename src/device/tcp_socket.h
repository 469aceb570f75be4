#pragma once
// The driver's TCP client to the scale: one connection, bounded connect and receive waits.
#include <string>

#include "device/encoding.h"
#include "platform/sockets.h"

namespace velquora::device {

inline constexpr int kConnectTimeoutMs = 2000;
inline constexpr int kReceiveTimeoutMs = 10000;

class TTCPSocket {
 public:
  explicit TTCPSocket(platform::SocketApi& api = platform::RealSockets(),
                      int connect_timeout_ms = kConnectTimeoutMs,
                      int receive_timeout_ms = kReceiveTimeoutMs);
  ~TTCPSocket();
  TTCPSocket(const TTCPSocket&) = delete;
  TTCPSocket& operator=(const TTCPSocket&) = delete;

  std::u16string IPAddress;
  std::int32_t IPPort = 0;

  // Opens the connection to IPAddress:IPPort (an open one is closed first).
  void SetConnection();
  void CloseConnection();
  bool Connected() const { return FSocket != platform::kNoSocket; }
  // Sends every byte (repeating short sends).
  void WriteStr(const ByteString& packet);
  // One receive of at most `len` bytes; the result always has `len` bytes (missing ones 0x00).
  void ReadString(int len, ByteString& bytes);
  // One receive of at most `limit` bytes into `data`, as they came: everything that had arrived
  // by then, up to `limit`, or what arrives first. 0 when the peer closed the connection.
  std::size_t ReadSome(char* data, std::size_t limit);
  // Receives until the peer closes or the wait runs out.
  void ReadString(ByteString& bytes);
  void ReadChar(std::uint8_t& byte);
  // Takes the bytes that have already arrived, at most `limit`, without waiting for more;
  // empty when nothing is waiting.
  ByteString ReadPending(std::size_t limit);
  // Waits up to `wait_ms` for bytes to arrive and takes them, at most `limit`; empty when the
  // connection stayed quiet (or the peer closed it). The connection's receive wait is put back.
  ByteString ReadArriving(std::size_t limit, int wait_ms);

 private:
  // One receive, repeated while a signal interrupts it: the byte count, or negative on failure.
  long ReceiveOnce(char* data, std::size_t size);

  platform::SocketApi& api_;
  int connect_timeout_ms_;
  int receive_timeout_ms_;
  platform::SocketHandle FSocket = platform::kNoSocket;
};

}  // namespace velquora::device
