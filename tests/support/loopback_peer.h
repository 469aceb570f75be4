#pragma once
// A TCP listener on 127.0.0.1 whose behaviour each test scripts: it accepts one connection and
// runs the script on it in a thread of its own. Plain system sockets (POSIX or Winsock), apart
// from the driver's own socket seam, so a fault of the seam cannot hide in the peer.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <thread>

namespace velquora::test {

class LoopbackPeer {
 public:
  class Connection {
   public:
    // Receives at most `size` bytes (exactly `size` when `all`, unless the connection ends):
    // the count, 0 when the other side has closed, negative on an error.
    long Receive(char* data, std::size_t size, bool all = false);
    long Send(std::string_view bytes);
    // The connection is reset instead of closed when the script ends.
    void ResetOnClose();

   private:
    friend class LoopbackPeer;
    explicit Connection(std::intptr_t socket) : socket_(socket) {}
    std::intptr_t socket_;
  };

  LoopbackPeer();
  ~LoopbackPeer();
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  int port() const { return port_; }
  void Join();
  // Accepts one connection, runs `script` on it, then closes it.
  void Serve(std::function<void(Connection&)> script);

 private:
  std::intptr_t listener_;
  int port_ = 0;
  std::thread thread_;
};

}  // namespace velquora::test
