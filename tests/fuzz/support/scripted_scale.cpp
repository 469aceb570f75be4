#include "scripted_scale.h"

#include <cstdlib>
#include <cstring>

namespace velquora::fuzz {

void ScriptedScale::CheckHandle(platform::SocketHandle s) const {
  // The transport must only ever use the connection it opened last, and only while it is open.
  if (s != last_ || open_ != 1) std::abort();
}

platform::SocketHandle ScriptedScale::OpenTcp() {
  ++open_;
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
  pending_.append(static_cast<const char*>(data), size);
  return {static_cast<long>(size), false};
}

platform::IoResult ScriptedScale::Receive(platform::SocketHandle s, void* data, std::size_t size) {
  CheckHandle(s);
  if (!pending_.empty()) frames_.push_back(std::move(pending_));
  pending_.clear();
  if (size == 0) return {0, false};
  char answer = next_answer_ < answers_.size() ? answers_[next_answer_++] : '\x06';
  std::memcpy(data, &answer, 1);
  return {1, false};
}

long ScriptedScale::Pending(platform::SocketHandle s) {
  CheckHandle(s);
  return 0;
}

void ScriptedScale::ShutdownAndClose(platform::SocketHandle s) {
  CheckHandle(s);
  --open_;
}

}  // namespace velquora::fuzz
