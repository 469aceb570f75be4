#include "scale_emulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velquora::emulator {
namespace {

constexpr std::uint8_t kAck = 0x06, kNak = 0x15, kNoRecord = 0xE2;

// Reads exactly n bytes; false when the peer closed or the emulator stops.
bool ReadExact(int fd, std::string& out, std::size_t n, const std::atomic<bool>& running) {
  std::size_t start = out.size();
  out.resize(start + n);
  std::size_t got = 0;
  while (got < n) {
    pollfd p{fd, POLLIN, 0};
    int ready = poll(&p, 1, 100);
    if (!running) return false;
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    ssize_t r = recv(fd, out.data() + start + got, n - got, 0);
    if (r <= 0) return false;
    got += static_cast<std::size_t>(r);
  }
  return true;
}

// A frame that stores one record of a table (not the system settings).
bool IsRecordWrite(const std::string& frame) {
  return frame.size() >= 2 && static_cast<std::uint8_t>(frame[0]) == 0xF1 &&
         static_cast<std::uint8_t>(frame[1]) != 0x4E;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

long BcdNumber(const std::string& bytes, std::size_t at) {
  long v = 0;
  for (std::size_t i = at; i < at + 4 && i < bytes.size(); ++i) {
    auto b = static_cast<std::uint8_t>(bytes[i]);
    v = v * 100 + (b >> 4) * 10 + (b & 15);
  }
  return v;
}

}  // namespace

ScaleEmulator::ScaleEmulator(std::string address, std::uint16_t port)
    : address_(std::move(address)), port_(port) {}

ScaleEmulator::~ScaleEmulator() {
  Stop();
}

void ScaleEmulator::Start() {
  listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_fd_ < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
  int one = 1;
  setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port_);
  if (inet_pton(AF_INET, address_.c_str(), &addr.sin_addr) != 1)
    throw std::runtime_error("bad address " + address_);
  if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listen_fd_, 16) != 0) {
    std::string err = std::strerror(errno);
    close(listen_fd_);
    listen_fd_ = -1;
    throw std::runtime_error("cannot listen on " + address_ + ":" + std::to_string(port_) + ": " +
                             err);
  }
  socklen_t len = sizeof addr;
  getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  running_ = true;
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

void ScaleEmulator::Stop() {
  if (!running_.exchange(false)) return;
  if (acceptor_.joinable()) acceptor_.join();
  std::map<std::thread::id, std::thread> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
    finished_.clear();
  }
  for (auto& [id, w] : workers) w.join();
  {
    std::lock_guard lock(mutex_);
    finished_.clear();  // ids of the threads just joined
  }
  if (listen_fd_ >= 0) close(listen_fd_);
  listen_fd_ = -1;
}

void ScaleEmulator::JoinFinished() {
  std::vector<std::thread> done;
  {
    std::lock_guard lock(mutex_);
    for (std::thread::id id : finished_) {
      auto it = workers_.find(id);
      if (it == workers_.end()) continue;
      done.push_back(std::move(it->second));
      workers_.erase(it);
    }
    finished_.clear();
  }
  for (auto& t : done) t.join();  // each has only its last instructions left to run
}

std::size_t ScaleEmulator::worker_threads() const {
  std::lock_guard lock(mutex_);
  return workers_.size();
}

void ScaleEmulator::AcceptLoop() {
  while (running_) {
    JoinFinished();
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::size_t n = ++connections_;
    bool drop;
    {
      std::lock_guard lock(mutex_);
      drop = static_cast<int>(n) <= faults_.drop_connections;
    }
    if (drop) {
      linger l{1, 0};  // reset, not an orderly close
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
      close(fd);
      continue;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // Held across the start so that a worker that ends at once reports after it is listed.
    std::lock_guard lock(mutex_);
    std::thread worker([this, fd] { Serve(fd); });
    std::thread::id id = worker.get_id();
    workers_.emplace(id, std::move(worker));
  }
}

std::size_t FrameLength(const std::string& head) {
  if (head.size() < 2) return 2;
  auto command = static_cast<std::uint8_t>(head[0]);
  auto table = static_cast<std::uint8_t>(head[1]);
  switch (command) {
    case 0xF1: {
      if (table == 0x4E) return 14;
      if (head.size() < 8) return 8;
      // Bytes 7 and 8 give the size of everything after the command and table bytes.
      unsigned size =
          (static_cast<std::uint8_t>(head[6]) << 8) | static_cast<std::uint8_t>(head[7]);
      return size >= 6 ? 2 + size : 8;
    }
    case 0xF2:
      return 2;
    case 0xF3:
    case 0xF7:
      return 6;
    default:
      return 0;
  }
}

void ScaleEmulator::Serve(int fd) {
  ++open_;
  while (running_) {
    std::string frame;
    std::size_t length = 0;
    bool ok = true;
    while (ok && (length = FrameLength(frame)) > frame.size())
      ok = ReadExact(fd, frame, length - frame.size(), running_);
    if (ok && length == 0) {
      std::lock_guard lock(mutex_);
      frames_.push_back(frame);
      ok = false;  // unknown command: the stream cannot be followed any further
      std::uint8_t nak = kNak;
      send(fd, &nak, 1, MSG_NOSIGNAL);
    }
    if (!ok) break;
    {
      std::lock_guard lock(mutex_);
      if (!first_frame_at_) first_frame_at_ = std::chrono::steady_clock::now();
    }
    if (IsRecordWrite(frame)) {
      long close_after, mute_after;
      {
        std::lock_guard lock(mutex_);
        close_after = faults_.close_after;
        mute_after = faults_.mute_after;
      }
      const auto stored = static_cast<long>(records_.load());
      if (close_after >= 0 && stored >= close_after) {
        std::lock_guard lock(mutex_);
        frames_.push_back(frame);
        break;
      }
      if (mute_after >= 0 && stored >= mute_after) {
        std::lock_guard lock(mutex_);
        frames_.push_back(frame);
        continue;  // read, never answered: the connection stays open
      }
    }
    std::optional<AnswerRule> rule = MatchRule(frame);
    if (rule && rule->delay_ms > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(rule->delay_ms));
    if (rule && rule->close) {
      std::lock_guard lock(mutex_);
      frames_.push_back(frame);
      break;
    }
    std::uint8_t answer;
    if (rule && rule->answer >= 0) {
      std::lock_guard lock(mutex_);
      frames_.push_back(frame);
      answer = static_cast<std::uint8_t>(rule->answer);
    } else {
      answer = Handle(frame);
    }
    std::string reply;
    int copies = 1;
    int gap_ms = 0;
    {
      std::lock_guard lock(mutex_);
      copies = std::max(faults_.answer_copies, 1);
      gap_ms = faults_.copy_gap_ms;
      reply.assign(static_cast<std::size_t>(gap_ms > 0 ? 1 : copies), static_cast<char>(answer));
      reply += faults_.noise;
    }
    if (!SendAll(fd, reply)) break;
    {
      std::lock_guard lock(mutex_);
      last_answer_at_ = std::chrono::steady_clock::now();
    }
    // Late copies: each reaches the driver on its own, after it has read the byte before it, and
    // the next frame is read only after another gap, so no two bytes ever arrive together.
    for (int i = 1; gap_ms > 0 && i < copies && ok; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
      ok = SendAll(fd, std::string(1, static_cast<char>(answer)));
      std::this_thread::sleep_for(std::chrono::milliseconds(gap_ms));
    }
    if (!ok) break;
  }
  close(fd);
  --open_;
  std::lock_guard lock(mutex_);
  finished_.push_back(std::this_thread::get_id());
}

std::optional<AnswerRule> ScaleEmulator::MatchRule(const std::string& frame) {
  std::lock_guard lock(mutex_);
  auto command = static_cast<std::uint8_t>(frame[0]);
  auto table = static_cast<std::uint8_t>(frame[1]);
  long record = frame.size() >= 6 ? BcdNumber(frame, 2) : -1;
  for (auto& rule : faults_.rules) {
    if (rule.times == 0) continue;
    if ((rule.command < 0 || rule.command == command) && (rule.table < 0 || rule.table == table) &&
        (rule.record < 0 || rule.record == record)) {
      if (rule.times > 0) --rule.times;
      return rule;
    }
  }
  return std::nullopt;
}

std::uint8_t ScaleEmulator::Handle(const std::string& frame) {
  std::lock_guard lock(mutex_);
  frames_.push_back(frame);
  if (frame.size() < 2) return kNak;
  auto command = static_cast<std::uint8_t>(frame[0]);
  auto table = static_cast<std::uint8_t>(frame[1]);
  switch (command) {
    case 0xF1: {
      if (table == 0x4E) {
        if (frame.size() != 14) return kNak;
        system_settings_ = frame.substr(2);
        return kAck;
      }
      std::string record = frame.substr(2);
      try {
        DecodeRecord(table, record);
      } catch (const std::exception&) {
        return kNak;  // malformed: not stored
      }
      tables_[table][BcdNumber(frame, 2)] = record;
      ++records_;
      return kAck;
    }
    case 0xF2:
      if (frame.size() != 2) return kNak;
      tables_[table].clear();
      return kAck;
    case 0xF3: {
      if (frame.size() != 6) return kNak;
      return tables_[table].erase(BcdNumber(frame, 2)) ? kAck : kNoRecord;
    }
    case 0xF7:
      if (frame.size() != 6) return kNak;
      return tables_[table].count(BcdNumber(frame, 2)) ? kAck : kNoRecord;
    default:
      return kNak;
  }
}

void ScaleEmulator::SetFaults(Faults faults) {
  std::lock_guard lock(mutex_);
  faults_ = std::move(faults);
}

std::map<long, std::string> ScaleEmulator::Records(std::uint8_t table) const {
  std::lock_guard lock(mutex_);
  auto it = tables_.find(table);
  return it == tables_.end() ? std::map<long, std::string>{} : it->second;
}

std::vector<std::string> ScaleEmulator::Frames() const {
  std::lock_guard lock(mutex_);
  return frames_;
}

std::chrono::steady_clock::duration ScaleEmulator::BusySpan() const {
  std::lock_guard lock(mutex_);
  if (!first_frame_at_ || last_answer_at_ < *first_frame_at_) return {};
  return last_answer_at_ - *first_frame_at_;
}

void ScaleEmulator::Clear() {
  std::lock_guard lock(mutex_);
  first_frame_at_.reset();
  records_ = 0;
  tables_.clear();
  frames_.clear();
  system_settings_.reset();
}

nlohmann::json ScaleEmulator::Dump() const {
  static const std::map<std::uint8_t, const char*> kNames = {
      {0x25, "plu"},   {0x23, "main_groups"}, {0x37, "images"},
      {0x3D, "shops"}, {0x41, "preset_keys"}, {0xA3, "group_images"}};
  std::lock_guard lock(mutex_);
  nlohmann::json dump = nlohmann::json::object();
  for (const auto& [table, records] : tables_) {
    auto name =
        kNames.count(table) ? std::string(kNames.at(table)) : "table_" + std::to_string(table);
    nlohmann::json list = nlohmann::json::array();
    for (const auto& [number, record] : records) list.push_back(DecodeRecord(table, record));
    dump[name] = list;
  }
  if (system_settings_) {
    const std::string& s = *system_settings_;
    auto bcd = [&](std::size_t at, std::size_t n) {
      std::string d;
      for (std::size_t i = at; i < at + n; ++i) {
        auto b = static_cast<std::uint8_t>(s[i]);
        d += static_cast<char>('0' + (b >> 4));
        d += static_cast<char>('0' + (b & 15));
      }
      return d;
    };
    dump["system"] = {{"date_ddmmyy", bcd(5, 3)}, {"time_hhmm", bcd(10, 2)}};
  }
  return dump;
}

}  // namespace velquora::emulator
