#pragma once
// The driver's TCP client to the scale: one connection, bounded connect and receive waits.
#include <cstdint>
#include <string>

#include "platform/sockets.h"
#include "protocol/encoding.h"

namespace velquora::protocol {

inline constexpr int kConnectTimeoutMs = 2000;
inline constexpr int kReceiveTimeoutMs = 10000;

// What a failed exchange with the scale is called (the system's words go beside, in the
// error's context).
inline constexpr char kSendFailedText[] = "Ошибка при отправке данных серверу";
inline constexpr char kReceiveFailedText[] = "Ошибка при получении ответа от сервера";
inline constexpr char kClosedByScaleText[] = "Соединение закрыто весами";
inline constexpr char kResetByScaleText[] = "Соединение сброшено весами";

class TcpClient {
 public:
  explicit TcpClient(platform::SocketApi& api = platform::RealSockets(),
                     int connect_timeout_ms = kConnectTimeoutMs,
                     int receive_timeout_ms = kReceiveTimeoutMs);
  ~TcpClient();
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  // Opens the connection to `address`:`port` (an open one is closed first). The address is
  // dotted IPv4, blanks and control characters around it ignored.
  void Connect(std::u16string_view address, std::int32_t port);
  void Close();
  bool connected() const { return socket_ != platform::kNoSocket; }
  // Sends every byte (repeating short sends).
  void Send(const ByteString& bytes);
  // One receive of at most `limit` bytes into `data`, as they came: everything that had arrived
  // by then, up to `limit`, or what arrives first. 0 when the peer closed the connection.
  std::size_t ReceiveSome(char* data, std::size_t limit);
  // Takes the bytes that have already arrived, at most `limit`, without waiting for more;
  // empty when nothing is waiting.
  ByteString ReceivePending(std::size_t limit);
  // Waits up to `wait_ms` for bytes to arrive and takes them, at most `limit`; empty when the
  // connection stayed quiet (or the peer closed it). The connection's receive wait is put back.
  ByteString ReceiveArriving(std::size_t limit, int wait_ms);

 private:
  // One receive, repeated while a signal interrupts it: the byte count, or negative on failure.
  platform::IoResult ReceiveOnce(char* data, std::size_t size);

  platform::SocketApi& api_;
  int connect_timeout_ms_;
  int receive_timeout_ms_;
  platform::SocketHandle socket_ = platform::kNoSocket;
};

}  // namespace velquora::protocol
