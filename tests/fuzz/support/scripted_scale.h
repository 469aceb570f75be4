#pragma once
// A scale behind the socket seam, in memory: every connection succeeds, each send is one frame,
// and each frame is answered by the next step of a script (acknowledge once the script is used
// up). Script steps: 0x01 answers twice (06 06, a scale out of step), 0x02 answers nothing
// (the peer closed), any other byte answers that byte. Nothing ever reaches the network.
#include <string>
#include <vector>

#include "platform/sockets.h"

namespace velquora::fuzz {

class ScriptedScale final : public platform::SocketApi {
 public:
  explicit ScriptedScale(std::string script = {}) : script_(std::move(script)) {}

  platform::SocketHandle OpenTcp() override;
  bool Connect(platform::SocketHandle s, std::uint32_t ipv4, std::uint16_t port,
               int timeout_ms) override;
  bool SetReceiveTimeout(platform::SocketHandle s, int timeout_ms) override;
  platform::IoResult Send(platform::SocketHandle s, const void* data, std::size_t size) override;
  platform::IoResult Receive(platform::SocketHandle s, void* data, std::size_t size) override;
  long Pending(platform::SocketHandle s) override;
  void ShutdownAndClose(platform::SocketHandle s) override;

  // Frames received, in order.
  const std::vector<std::string>& frames() const { return frames_; }
  // Frames answered with more than one byte so far.
  int surplus_answers() const { return surplus_answers_; }
  // Answer bytes the scale sent that the driver has not received.
  std::size_t unread_answer_bytes() const { return answers_.size(); }
  int open_sockets() const { return open_; }

 private:
  void CheckHandle(platform::SocketHandle s) const;

  std::string script_;
  std::size_t next_step_ = 0;
  std::string answers_;  // sent by the scale, not yet received by the driver
  std::vector<std::string> frames_;
  int surplus_answers_ = 0;
  int open_ = 0;
  platform::SocketHandle last_ = 100;
};

}  // namespace velquora::fuzz
