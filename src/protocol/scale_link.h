#pragma once
// The driver's link to one scale: connects (three attempts), runs frames one at a time or
// overlapped, judges every answer by the one table of answers (answers.h), watches for bytes
// that no frame asked for, and writes the exchange log through the sink it is given.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/log_sink.h"
#include "protocol/frames.h"
#include "protocol/tcp_client.h"

namespace velquora::protocol {

class ScaleLink {
 public:
  // `log` receives the exchange records while the exchange log is on.
  explicit ScaleLink(LogSink& log,
                     std::unique_ptr<TcpClient> client = std::make_unique<TcpClient>());
  ~ScaleLink();  // closes an open connection
  ScaleLink(const ScaleLink&) = delete;
  ScaleLink& operator=(const ScaleLink&) = delete;

  // Connects to the scale, closing an open connection first: up to three attempts.
  void Connect(std::u16string_view address, std::int32_t port);
  void Close();
  // The exchange log: every frame and answer in hexadecimal, at DEBUG.
  void set_exchange_log(bool on) { exchange_log_ = on; }

  // One frame and its answer: an answer still due for an overlapped write is judged first,
  // then the frame goes out and its answer is read and judged.
  void Run(Command command);

  // Overlapped record writes, one frame in flight as the protocol allows: StartWrite judges the
  // answer of the frame in flight, if there is one, then sends the frame and returns without
  // waiting; FinishWrite reads and judges the answer of the frame in flight, if there is one.
  // The caller prepares the next record in between.
  void StartWrite(const Command& command);
  // The same for a frame kept elsewhere; `record`, when given, is what its refusal names.
  void StartWrite(std::string_view frame, const RecordName* record);
  void FinishWrite();
  bool write_in_flight() const { return in_flight_; }
  // Ends a run of several frames: judges the one in flight, then requires the connection to stay
  // quiet for a moment. A scale that answers each frame more than once, each copy a little later,
  // never leaves a byte waiting when a frame is sent, yet every copy is taken for the next frame's
  // answer; its unread answers are still coming when the driver's last frame has been judged, one
  // record's storing time apart. So the quiet lasts kQuietAfterFramesMs longer than the answers on
  // this connection took, all but a rare few (see answer_waits_).
  void ExpectQuiet();
  static constexpr int kQuietAfterFramesMs = 20;

  // The last frame sent and the answer it got.
  const ByteString& last_frame() const { return frame_; }
  const ByteString& last_answer() const { return answer_; }

 private:
  // Sends `frame_` after looking for bytes no frame asked for.
  void SendFrame();
  // Reads the answer of the frame sent last, writing its exchange record unless `log_answer` is
  // false; bytes beyond the answer fail it, its record written first.
  void ReadAnswer(bool log_answer);
  // Counts how long the answer just read took, into answer_waits_.
  void CountAnswerWait();
  // Reads and judges the answer of the write in flight; a refusal fails with its text.
  void JudgeInFlight(bool log_answer);
  std::uint8_t Answer() const;
  // The exchange records of a frame sent and of the last answer.
  void LogSent(const ByteString& frame);
  void LogAnswer();
  // Fails with `message` and the bytes when any have arrived that no frame asked for.
  void CheckNothingPending(const char* message);
  [[noreturn]] void FailOnSurplus(const ByteString& surplus, const char* message);
  // Runs `step`, adding the scale's address to an error on its way out.
  template <typename Step>
  void WithAddress(Step step);
  static constexpr std::size_t kShownSurplusBytes = 32;

  LogSink& log_;
  std::unique_ptr<TcpClient> client_;
  std::string address_;  // "address:port", for errors
  bool exchange_log_ = false;
  ByteString frame_;
  ByteString answer_;
  bool in_flight_ = false;        // frame_ is a write whose answer is still due
  bool in_flight_named_ = false;  // its refusal names in_flight_record_
  RecordName in_flight_record_;
  std::chrono::steady_clock::time_point sent_at_;  // when the last frame went out
  // How many answers on this connection took under 2^k microseconds but not under 2^(k-1). The
  // quiet wait covers all but the slowest 1/64 of them: a scale that stores records slowly is
  // slow on every record, while a rare answer held up by this machine's own load must not
  // lengthen every call.
  std::array<std::uint32_t, 25> answer_waits_{};
};

}  // namespace velquora::protocol
