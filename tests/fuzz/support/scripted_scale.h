#pragma once
// A scale behind the socket seam, in memory: every connection succeeds, whatever was sent
// since the last receive is one frame, and each receive answers with the next byte of a script
// (acknowledge once the script is used up). Nothing ever reaches the network.
#include <string>
#include <vector>

#include "platform/sockets.h"

namespace velquora::fuzz {

class ScriptedScale final : public platform::SocketApi {
 public:
  explicit ScriptedScale(std::string answers = {}) : answers_(std::move(answers)) {}

  platform::SocketHandle OpenTcp() override;
  bool Connect(platform::SocketHandle s, std::uint32_t ipv4, std::uint16_t port,
               int timeout_ms) override;
  bool SetReceiveTimeout(platform::SocketHandle s, int timeout_ms) override;
  platform::IoResult Send(platform::SocketHandle s, const void* data, std::size_t size) override;
  platform::IoResult Receive(platform::SocketHandle s, void* data, std::size_t size) override;
  // The script answers one byte a receive: nothing ever waits beyond it.
  long Pending(platform::SocketHandle s) override;
  void ShutdownAndClose(platform::SocketHandle s) override;

  // Frames received, in order (bytes sent between two receives).
  const std::vector<std::string>& frames() const { return frames_; }
  int open_sockets() const { return open_; }

 private:
  void CheckHandle(platform::SocketHandle s) const;

  std::string answers_;
  std::size_t next_answer_ = 0;
  std::string pending_;
  std::vector<std::string> frames_;
  int open_ = 0;
  platform::SocketHandle last_ = 100;
};

}  // namespace velquora::fuzz
