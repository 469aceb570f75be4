#include "protocol/tcp_client.h"

#include <algorithm>

#include "common/error.h"
#include "common/text.h"

namespace velquora::protocol {
namespace {

// Fails with the text of what ended a send or receive and the system's words for it; a time-out
// says how long the answer was waited for.
[[noreturn]] void Failed(const platform::IoResult& r, const char* text, int waited_ms = 0) {
  const char* said = text;
  if (r.failure == platform::IoFailure::kClosed) said = kClosedByScaleText;
  if (r.failure == platform::IoFailure::kReset) said = kResetByScaleText;
  Error e(ErrorKind::kIo, said);
  if (r.failure == platform::IoFailure::kTimedOut && waited_ms > 0)
    e.context().reason = waited_ms % 1000 == 0
                             ? "нет ответа за " + std::to_string(waited_ms / 1000) + " с"
                             : "нет ответа за " + std::to_string(waited_ms) + " мс";
  else
    e.context().reason = r.reason;
  throw e;
}

}  // namespace

TcpClient::TcpClient(platform::SocketApi& api, int connect_timeout_ms, int receive_timeout_ms)
    : api_(api), connect_timeout_ms_(connect_timeout_ms), receive_timeout_ms_(receive_timeout_ms) {}

TcpClient::~TcpClient() {
  Close();
}

void TcpClient::Connect(std::u16string_view address, std::int32_t port) {
  Close();
  std::uint32_t ipv4 = 0;
  if (!platform::ParseIPv4(ToUtf8(TrimControl(address)), ipv4) || ipv4 == 0xFFFFFFFFu) {
    throw Error(ErrorKind::kInvalid, "Синтаксическая ошибка в IP-адресе");
  }
  if (port < 1 || port > 65535) {
    throw Error(ErrorKind::kInvalid, "Номер порта должен лежать в диапазоне 1-65535");
  }
  platform::SocketHandle s = api_.OpenTcp();
  if (s == platform::kNoSocket) throw Error(ErrorKind::kIo, "Ошибка при создании сокета");
  if (!api_.Connect(s, ipv4, static_cast<std::uint16_t>(port), connect_timeout_ms_) ||
      !api_.SetReceiveTimeout(s, receive_timeout_ms_)) {
    api_.ShutdownAndClose(s);
    throw Error(ErrorKind::kIo, "Ошибка при установлении подключения");
  }
  socket_ = s;
}

void TcpClient::Close() {
  if (socket_ == platform::kNoSocket) return;
  api_.ShutdownAndClose(socket_);
  socket_ = platform::kNoSocket;
}

void TcpClient::Send(const ByteString& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    platform::IoResult r = api_.Send(socket_, bytes.data() + sent, bytes.size() - sent);
    if (r.interrupted) continue;
    if (r.bytes <= 0) Failed(r, kSendFailedText);
    sent += static_cast<std::size_t>(r.bytes);
  }
}

platform::IoResult TcpClient::ReceiveOnce(char* data, std::size_t size) {
  platform::IoResult r;
  do {
    r = api_.Receive(socket_, data, size);
  } while (r.interrupted);
  return r;
}

std::size_t TcpClient::ReceiveSome(char* data, std::size_t limit) {
  platform::IoResult r = ReceiveOnce(data, limit);
  if (r.bytes < 0) Failed(r, kReceiveFailedText, receive_timeout_ms_);
  return static_cast<std::size_t>(r.bytes);
}

ByteString TcpClient::ReceivePending(std::size_t limit) {
  long waiting = api_.Pending(socket_);
  if (waiting < 0) Failed({-1, false}, kReceiveFailedText);
  ByteString bytes(std::min(static_cast<std::size_t>(waiting), limit), '\0');
  if (bytes.empty()) return bytes;
  // The bytes are there already, so this receive returns at once.
  bytes.resize(ReceiveSome(bytes.data(), bytes.size()));
  return bytes;
}

ByteString TcpClient::ReceiveArriving(std::size_t limit, int wait_ms) {
  ByteString bytes = ReceivePending(limit);
  if (!bytes.empty() || limit == 0) return bytes;
  if (!api_.SetReceiveTimeout(socket_, wait_ms)) Failed({-1, false}, kReceiveFailedText);
  bytes.resize(limit);
  // A wait that ran out, or a peer that closed, both mean nothing more came.
  long n = ReceiveOnce(bytes.data(), bytes.size()).bytes;
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (!api_.SetReceiveTimeout(socket_, receive_timeout_ms_))
    Failed({-1, false}, kReceiveFailedText);
  return bytes;
}

}  // namespace velquora::protocol
