#include "support/loopback_peer.h"

#if defined(_WIN32)
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <stdexcept>

namespace velquora::test {
namespace {

#if defined(_WIN32)
using Native = SOCKET;
using Length = int;
void CloseSocket(Native s) {
  closesocket(s);
}
// Winsock is started once for the test program and ended at its exit.
struct Winsock {
  Winsock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  }
  ~Winsock() { WSACleanup(); }
};
#else
using Native = int;
using Length = socklen_t;
void CloseSocket(Native s) {
  close(s);
}
#endif

Native Of(std::intptr_t s) {
  return static_cast<Native>(s);
}

}  // namespace

long LoopbackPeer::Connection::Receive(char* data, std::size_t size, bool all) {
  return static_cast<long>(recv(Of(socket_), data, static_cast<int>(size), all ? MSG_WAITALL : 0));
}

long LoopbackPeer::Connection::Send(std::string_view bytes) {
  return static_cast<long>(send(Of(socket_), bytes.data(), static_cast<int>(bytes.size()), 0));
}

void LoopbackPeer::Connection::ResetOnClose() {
  linger l{};
  l.l_onoff = 1;
  l.l_linger = 0;
  setsockopt(Of(socket_), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
}

LoopbackPeer::LoopbackPeer() {
#if defined(_WIN32)
  static Winsock winsock;
#endif
  Native s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Length length = sizeof a;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
    CloseSocket(s);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  listener_ = static_cast<std::intptr_t>(s);
  port_ = ntohs(a.sin_port);
}

LoopbackPeer::~LoopbackPeer() {
  Join();
  CloseSocket(Of(listener_));
}

void LoopbackPeer::Join() {
  if (thread_.joinable()) thread_.join();
}

void LoopbackPeer::Serve(std::function<void(Connection&)> script) {
  thread_ = std::thread([this, script = std::move(script)] {
    Native accepted = accept(Of(listener_), nullptr, nullptr);
    Connection connection(static_cast<std::intptr_t>(accepted));
    script(connection);
    CloseSocket(accepted);
  });
}

}  // namespace velquora::test
