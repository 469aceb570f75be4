#pragma once
// A label-printing scale on a TCP port: reads frames as the scale does, keeps every table's
// records in memory, answers one byte per frame, and can misbehave on purpose for tests.
// Its decoders are written from the protocol on their own, so they catch the driver's mistakes.
#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velquora::emulator {

struct AnswerRule {
  int command = -1;    // -1: any
  int table = -1;      // -1: any
  long record = -1;    // -1: any
  int answer = -1;     // the byte to answer instead of the real one; -1 keeps it
  bool close = false;  // close the connection instead of answering
  int delay_ms = 0;    // wait before answering
  int times = -1;      // how many frames it applies to; -1: all
};

struct Faults {
  int drop_connections = 0;  // accept and reset the first N connections
  int answer_copies = 1;     // each answer byte is sent this many times in one write
  int copy_gap_ms = 0;       // when > 0, each copy after the first goes in a write of its own,
                             // this long after the one before and before the next frame is read
  std::string noise;         // bytes sent right after every answer, in the same write
  std::vector<AnswerRule> rules;
  // The two faults most common in the field: after this many records (of any table) have been
  // stored, the scale closes the connection at the next write, or reads on and never answers.
  // -1: never.
  long close_after = -1;
  long mute_after = -1;
};

class ScaleEmulator {
 public:
  explicit ScaleEmulator(std::string address = "127.0.0.1", std::uint16_t port = 0);
  ~ScaleEmulator();
  ScaleEmulator(const ScaleEmulator&) = delete;
  ScaleEmulator& operator=(const ScaleEmulator&) = delete;

  void Start();  // throws std::runtime_error when the port cannot be bound
  void Stop();
  std::uint16_t port() const { return port_; }
  const std::string& address() const { return address_; }

  void SetFaults(Faults faults);
  // Raw records of a table by record number.
  std::map<long, std::string> Records(std::uint8_t table) const;
  // Every frame received, as it came (malformed ones too).
  std::vector<std::string> Frames() const;
  std::size_t connections() const { return connections_.load(); }
  // Records stored since the start or the last Clear (every table, rewrites counted again).
  std::size_t records_received() const { return records_.load(); }
  // Connections open right now (the peer has not closed them yet).
  std::size_t open_connections() const { return open_.load(); }
  // Connection threads not yet joined; finished ones are joined while the scale runs.
  std::size_t worker_threads() const;
  // All tables decoded into fields.
  nlohmann::json Dump() const;
  // From the end of the first frame received to the last answer sent, since the last Clear:
  // how long the scale was kept busy, whatever the client did before and after.
  std::chrono::steady_clock::duration BusySpan() const;
  void Clear();

  // Handles one frame and returns the answer byte (also used by the loopback benchmark).
  std::uint8_t Handle(const std::string& frame);

 private:
  void AcceptLoop();
  void Serve(int fd);
  // Joins the connection threads that have finished.
  void JoinFinished();
  std::optional<AnswerRule> MatchRule(const std::string& frame);

  std::string address_;
  std::uint16_t port_;
  int listen_fd_ = -1;
  std::atomic<bool> running_{false};
  std::atomic<std::size_t> connections_{0};
  std::atomic<std::size_t> open_{0};
  std::atomic<std::size_t> records_{0};
  std::thread acceptor_;
  mutable std::mutex mutex_;
  std::map<std::thread::id, std::thread> workers_;
  std::vector<std::thread::id> finished_;
  std::vector<int> client_fds_;
  Faults faults_;
  std::map<std::uint8_t, std::map<long, std::string>> tables_;
  std::optional<std::string> system_settings_;
  std::vector<std::string> frames_;
  std::optional<std::chrono::steady_clock::time_point> first_frame_at_;
  std::chrono::steady_clock::time_point last_answer_at_;
};

// The whole length of the frame that starts with `head`, as far as the bytes so far tell it
// (a write needs its size field first: ask again with more bytes until the answer stops
// growing), or 0 when the command is unknown and the stream cannot be followed.
std::size_t FrameLength(const std::string& head);

// Decoding helpers, exposed for tests and the printer.
nlohmann::json DecodeRecord(std::uint8_t table, const std::string& record);  // throws on malformed
std::string Cp866ToUtf8(const std::string& bytes);
// A readable table of what the scale holds.
std::string FormatDump(const nlohmann::json& dump);

}  // namespace velquora::emulator
