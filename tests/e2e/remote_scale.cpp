#include "e2e/remote_scale.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/sockets.h"

namespace velquora::e2e {
namespace {

constexpr int kControlTimeoutMs = 30000;

std::uint16_t ControlPort() {
  const char* text = std::getenv("VELQUORA_EMULATOR_CONTROL");
  int port = text ? std::atoi(text) : 0;
  if (port <= 0 || port > 65535)
    throw std::runtime_error("VELQUORA_EMULATOR_CONTROL does not name the emulator's control port");
  return static_cast<std::uint16_t>(port);
}

}  // namespace

RemoteScale::RemoteScale(std::string address)
    : address_(std::move(address)), socket_(platform::kNoSocket) {}

RemoteScale::~RemoteScale() {
  try {
    if (id_) Stop();
  } catch (...) {
  }
  if (socket_ != platform::kNoSocket) platform::RealSockets().ShutdownAndClose(socket_);
}

void RemoteScale::Start() {
  auto& api = platform::RealSockets();
  socket_ = api.OpenTcp();
  if (socket_ == platform::kNoSocket ||
      !api.Connect(socket_, 0x7F000001, ControlPort(), kControlTimeoutMs) ||
      !api.SetReceiveTimeout(socket_, kControlTimeoutMs)) {
    throw std::runtime_error("the emulator's control port does not answer");
  }
  nlohmann::json answer = Ask("start " + address_);
  id_ = answer.at("id").get<int>();
  port_ = answer.at("port").get<std::uint16_t>();
}

void RemoteScale::Stop() {
  if (id_) Ask("stop " + std::to_string(id_));
}

void RemoteScale::Clear() {
  Ask("clear " + std::to_string(id_));
}

void RemoteScale::SetFaults(const emulator::Faults& faults) {
  Ask("faults " + std::to_string(id_) + " " + emulator::FaultsToJson(faults).dump());
}

std::map<long, std::string> RemoteScale::Records(std::uint8_t table) const {
  std::map<long, std::string> records;
  nlohmann::json answer = Value("records " + std::to_string(id_) + " " + std::to_string(table));
  for (const auto& [number, hex] : answer.items())
    records[std::stol(number)] = emulator::FromHex(hex.get<std::string>());
  return records;
}

std::vector<std::string> RemoteScale::Frames() const {
  std::vector<std::string> frames;
  for (const auto& hex : Value("frames " + std::to_string(id_)))
    frames.push_back(emulator::FromHex(hex.get<std::string>()));
  return frames;
}

std::size_t RemoteScale::connections() const {
  return Value("connections " + std::to_string(id_)).get<std::size_t>();
}

std::size_t RemoteScale::open_connections() const {
  return Value("open " + std::to_string(id_)).get<std::size_t>();
}

nlohmann::json RemoteScale::Dump() const {
  return Value("dump " + std::to_string(id_));
}

nlohmann::json RemoteScale::Value(const std::string& command) const {
  return Ask(command).at("value");
}

nlohmann::json RemoteScale::Ask(const std::string& line) const {
  auto& api = platform::RealSockets();
  std::string request = line + "\n";
  for (std::size_t sent = 0; sent < request.size();) {
    platform::IoResult r = api.Send(socket_, request.data() + sent, request.size() - sent);
    if (r.bytes <= 0) throw std::runtime_error("the emulator's control line is broken");
    sent += static_cast<std::size_t>(r.bytes);
  }
  std::string answer;
  char buffer[4096];
  while (answer.empty() || answer.back() != '\n') {
    platform::IoResult r = api.Receive(socket_, buffer, sizeof buffer);
    if (r.bytes <= 0) throw std::runtime_error("the emulator's control line is silent");
    answer.append(buffer, static_cast<std::size_t>(r.bytes));
  }
  nlohmann::json j = nlohmann::json::parse(answer);
  if (j.contains("error")) throw std::runtime_error("emulator: " + j["error"].get<std::string>());
  return j;
}

}  // namespace velquora::e2e
