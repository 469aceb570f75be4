#include "control_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "control_protocol.h"

namespace velquora::emulator {
namespace {

// Shared by every client's thread.
class Controller {
 public:
  nlohmann::json Handle(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "start") {
      std::string address;
      in >> address;
      auto scale = std::make_unique<ScaleEmulator>(address.empty() ? "127.0.0.1" : address);
      scale->Start();
      int id = ++last_id_;
      std::uint16_t port = scale->port();
      scales_[id] = std::move(scale);
      return {{"id", id}, {"port", port}};
    }
    int id = 0;
    in >> id;
    auto it = scales_.find(id);
    if (it == scales_.end()) return {{"error", "no scale " + std::to_string(id)}};
    ScaleEmulator& scale = *it->second;
    if (command == "stop") {
      scale.Stop();
      return nlohmann::json::object();
    }
    if (command == "clear") {
      scale.Clear();
      return nlohmann::json::object();
    }
    if (command == "connections") return {{"value", scale.connections()}};
    if (command == "open") return {{"value", scale.open_connections()}};
    if (command == "dump") return {{"value", scale.Dump()}};
    if (command == "frames") {
      nlohmann::json frames = nlohmann::json::array();
      for (const auto& f : scale.Frames()) frames.push_back(ToHex(f));
      return {{"value", frames}};
    }
    if (command == "records") {
      int table = 0;
      in >> table;
      nlohmann::json records = nlohmann::json::object();
      for (const auto& [number, bytes] : scale.Records(static_cast<std::uint8_t>(table)))
        records[std::to_string(number)] = ToHex(bytes);
      return {{"value", records}};
    }
    if (command == "faults") {
      std::string rest;
      std::getline(in, rest);
      scale.SetFaults(FaultsFromJson(nlohmann::json::parse(rest)));
      return nlohmann::json::object();
    }
    return {{"error", "unknown command " + command}};
  }

 private:
  std::mutex mutex_;
  int last_id_ = 0;
  std::map<int, std::unique_ptr<ScaleEmulator>> scales_;
};

bool SendAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Answers one client's lines until it closes (or the server stops), then closes it.
void Serve(int fd, Controller& controller, volatile std::sig_atomic_t& stop) {
  struct Closer {
    int fd;
    ~Closer() { close(fd); }
  } closer{fd};
  std::string pending;
  char buffer[4096];
  while (!stop) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) return;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      nlohmann::json answer;
      try {
        answer = controller.Handle(line);
      } catch (const std::exception& e) {
        answer = {{"error", e.what()}};
      }
      if (!SendAll(fd, answer.dump() + "\n")) return;
    }
  }
}

}  // namespace

int RunControlServer(std::uint16_t port, volatile std::sig_atomic_t& stop) {
  int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener, 4) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    std::perror("scale-emulator: control");
    if (listener >= 0) close(listener);
    return 1;
  }
  std::printf("control on 127.0.0.1:%u\n", ntohs(addr.sin_port));
  std::fflush(stdout);
  Controller controller;
  std::vector<std::thread> clients;  // a test may drive several scales at once
  while (!stop) {
    pollfd p{listener, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    clients.emplace_back([client, &controller, &stop] { Serve(client, controller, stop); });
  }
  for (auto& t : clients) t.join();
  close(listener);
  return 0;
}

}  // namespace velquora::emulator
