#include "scripted_scale.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velquora::fuzz {

void ScriptedScale::CheckHandle(platform::SocketHandle s) const {
  // The transport must only ever use the connection it opened last, and only while it is open.
  if (s != last_ || open_ != 1) std::abort();
}

platform::SocketHandle ScriptedScale::OpenTcp() {
  ++open_;
  answers_.clear();  // a new connection starts with nothing in flight
  return ++last_;
}

bool ScriptedScale::Connect(platform::SocketHandle s, std::uint32_t, std::uint16_t, int) {
  CheckHandle(s);
  return true;
}

bool ScriptedScale::SetReceiveTimeout(platform::SocketHandle s, int) {
  CheckHandle(s);
  return true;
}

platform::IoResult ScriptedScale::Send(platform::SocketHandle s, const void* data,
                                       std::size_t size) {
  CheckHandle(s);
  frames_.emplace_back(static_cast<const char*>(data), size);
  char step = next_step_ < script_.size() ? script_[next_step_++] : '\x06';
  if (step == '\x01') {
    answers_ += "\x06\x06";
    ++surplus_answers_;
  } else if (step != '\x02') {
    answers_ += step;
  }
  return {static_cast<long>(size), false};
}

platform::IoResult ScriptedScale::Receive(platform::SocketHandle s, void* data, std::size_t size) {
  CheckHandle(s);
  std::size_t n = std::min(size, answers_.size());
  if (n) std::memcpy(data, answers_.data(), n);
  answers_.erase(0, n);
  return {static_cast<long>(n), false};  // 0: nothing due, as from a peer that has closed
}

long ScriptedScale::Pending(platform::SocketHandle s) {
  CheckHandle(s);
  return static_cast<long>(answers_.size());
}

void ScriptedScale::ShutdownAndClose(platform::SocketHandle s) {
  CheckHandle(s);
  --open_;
}

}  // namespace velquora::fuzz
