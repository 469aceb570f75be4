#pragma once
// A scale emulator in another process, driven over its control line (scale-emulator --control):
// what the Windows tests use in place of the in-process emulator, with the same members the
// tests call. The control port comes from VELQUORA_EMULATOR_CONTROL.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "control_protocol.h"

namespace velquora::e2e {

class RemoteScale {
 public:
  explicit RemoteScale(std::string address = "127.0.0.1");
  ~RemoteScale();
  RemoteScale(const RemoteScale&) = delete;
  RemoteScale& operator=(const RemoteScale&) = delete;

  void Start();  // throws std::runtime_error
  void Stop();
  std::uint16_t port() const { return port_; }
  void SetFaults(const emulator::Faults& faults);
  std::map<long, std::string> Records(std::uint8_t table) const;
  std::vector<std::string> Frames() const;
  std::size_t connections() const;
  std::size_t open_connections() const;
  nlohmann::json Dump() const;
  void Clear();

 private:
  // One request, one answer; throws on a broken line or an error answer.
  nlohmann::json Ask(const std::string& line) const;
  nlohmann::json Value(const std::string& command) const;

  std::string address_;
  int id_ = 0;
  std::uint16_t port_ = 0;
  std::intptr_t socket_;
};

}  // namespace velquora::e2e
