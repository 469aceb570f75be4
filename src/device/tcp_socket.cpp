#include "device/tcp_socket.h"

#include <algorithm>

#include "common/error.h"
#include "common/text.h"

namespace velquora::device {

namespace {
constexpr char kReceiveFailed[] = "Ошибка при получении ответа от сервера";
}

TTCPSocket::TTCPSocket(platform::SocketApi& api, int connect_timeout_ms, int receive_timeout_ms)
    : api_(api), connect_timeout_ms_(connect_timeout_ms), receive_timeout_ms_(receive_timeout_ms) {}

TTCPSocket::~TTCPSocket() {
  CloseConnection();
}

void TTCPSocket::SetConnection() {
  CloseConnection();
  std::uint32_t address = 0;
  std::string text = ToUtf8(TrimControl(std::u16string_view(IPAddress)));
  if (!platform::ParseIPv4(text, address) || address == 0xFFFFFFFFu) {
    throw Error(ErrorKind::kInvalid, "Синтаксическая ошибка в IP-адресе");
  }
  if (IPPort < 1 || IPPort > 65535) {
    throw Error(ErrorKind::kInvalid, "Номер порта должен лежать в диапазоне 1-65535");
  }
  platform::SocketHandle s = api_.OpenTcp();
  if (s == platform::kNoSocket) throw Error(ErrorKind::kIo, "Ошибка при создании сокета");
  if (!api_.Connect(s, address, static_cast<std::uint16_t>(IPPort), connect_timeout_ms_) ||
      !api_.SetReceiveTimeout(s, receive_timeout_ms_)) {
    api_.ShutdownAndClose(s);
    throw Error(ErrorKind::kIo, "Ошибка при установлении подключения");
  }
  FSocket = s;
}

void TTCPSocket::CloseConnection() {
  if (FSocket == platform::kNoSocket) return;
  api_.ShutdownAndClose(FSocket);
  FSocket = platform::kNoSocket;
}

void TTCPSocket::WriteStr(const ByteString& packet) {
  std::size_t sent = 0;
  while (sent < packet.size()) {
    platform::IoResult r = api_.Send(FSocket, packet.data() + sent, packet.size() - sent);
    if (r.interrupted) continue;
    if (r.bytes <= 0) throw Error(ErrorKind::kIo, "Ошибка при отправке данных серверу");
    sent += static_cast<std::size_t>(r.bytes);
  }
}

long TTCPSocket::ReceiveOnce(char* data, std::size_t size) {
  platform::IoResult r;
  do {
    r = api_.Receive(FSocket, data, size);
  } while (r.interrupted);
  return r.bytes;
}

void TTCPSocket::ReadString(int len, ByteString& bytes) {
  ByteString buffer(static_cast<std::size_t>(len > 0 ? len : 0), '\0');
  if (ReceiveOnce(buffer.data(), buffer.size()) < 0) throw Error(ErrorKind::kIo, kReceiveFailed);
  bytes = std::move(buffer);
}

std::size_t TTCPSocket::ReadSome(char* data, std::size_t limit) {
  long n = ReceiveOnce(data, limit);
  if (n < 0) throw Error(ErrorKind::kIo, kReceiveFailed);
  return static_cast<std::size_t>(n);
}

void TTCPSocket::ReadString(ByteString& bytes) {
  ByteString buffer;
  std::size_t count = 0;
  for (;;) {
    buffer.resize(count + 1024);
    platform::IoResult r = api_.Receive(FSocket, buffer.data() + count, 1024);
    if (r.interrupted) continue;
    if (r.bytes <= 0) break;
    count += static_cast<std::size_t>(r.bytes);
  }
  buffer.resize(count);
  if (count == 0) throw Error(ErrorKind::kIo, kReceiveFailed);
  bytes = std::move(buffer);
}

void TTCPSocket::ReadChar(std::uint8_t& byte) {
  ByteString one;
  ReadString(1, one);
  byte = static_cast<std::uint8_t>(one[0]);
}

ByteString TTCPSocket::ReadPending(std::size_t limit) {
  long waiting = api_.Pending(FSocket);
  if (waiting < 0) throw Error(ErrorKind::kIo, kReceiveFailed);
  ByteString bytes(std::min(static_cast<std::size_t>(waiting), limit), '\0');
  if (bytes.empty()) return bytes;
  // The bytes are there already, so this receive returns at once.
  bytes.resize(ReadSome(bytes.data(), bytes.size()));
  return bytes;
}

ByteString TTCPSocket::ReadArriving(std::size_t limit, int wait_ms) {
  ByteString bytes = ReadPending(limit);
  if (!bytes.empty() || limit == 0) return bytes;
  if (!api_.SetReceiveTimeout(FSocket, wait_ms)) throw Error(ErrorKind::kIo, kReceiveFailed);
  bytes.resize(limit);
  // A wait that ran out, or a peer that closed, both mean nothing more came.
  long n = ReceiveOnce(bytes.data(), bytes.size());
  bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  if (!api_.SetReceiveTimeout(FSocket, receive_timeout_ms_))
    throw Error(ErrorKind::kIo, kReceiveFailed);
  return bytes;
}

}  // namespace velquora::device
