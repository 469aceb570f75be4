#include "protocol/scale_link.h"

#include <algorithm>
#include <bit>

#include "common/error.h"
#include "common/hex.h"
#include "common/text.h"
#include "protocol/answers.h"

namespace velquora::protocol {
namespace {

constexpr char kBytesBeforeFrameText[] =
    "Ошибка протокола обмена: данные от весов до отправки команды: ";
constexpr char kBytesAfterAnswerText[] =
    "Ошибка протокола обмена: лишние байты после ответа весов: ";
constexpr char16_t kSentCaption[] = u"Данные обмена -> ";
constexpr char16_t kReceivedCaption[] = u"Данные обмена <- ";

}  // namespace

ScaleLink::ScaleLink(LogSink& log, std::unique_ptr<TcpClient> client)
    : log_(log), client_(std::move(client)) {}

ScaleLink::~ScaleLink() {
  Close();
}

template <typename Step>
void ScaleLink::WithAddress(Step step) {
  try {
    step();
  } catch (Error& e) {
    if (e.context().address.empty()) e.context().address = address_;
    throw;
  }
}

void ScaleLink::Connect(std::u16string_view address, std::int32_t port) {
  address_ = ToUtf8(address) + ":" + std::to_string(port);
  answer_waits_ = {};
  for (int attempt = 1;; ++attempt) {
    try {
      client_->Connect(address, port);
      return;
    } catch (Error& e) {
      // An address or port that cannot be one is named by the text itself.
      if (e.kind() == ErrorKind::kInvalid) throw;
      if (attempt == 3) {
        e.context().address = address_;
        throw;
      }
    }
  }
}

void ScaleLink::Close() {
  in_flight_ = false;
  in_flight_named_ = false;
  client_->Close();
}

void ScaleLink::SendFrame() {
  // The answer byte is judged only if it arrived after the frame went out: a byte already
  // waiting, or one more after the answer, would put every later answer on the wrong frame.
  CheckNothingPending(kBytesBeforeFrameText);
  LogSent(frame_);
  client_->Send(frame_);
  sent_at_ = std::chrono::steady_clock::now();
}

void ScaleLink::LogSent(const ByteString& frame) {
  if (exchange_log_ && log_.Enabled(LogLevel::kDebug))
    log_.Write(kSentCaption, HexText16(frame, u" "), LogLevel::kDebug);
}

void ScaleLink::LogAnswer() {
  if (exchange_log_ && log_.Enabled(LogLevel::kDebug))
    log_.Write(kReceivedCaption, HexText16(answer_), LogLevel::kDebug);
}

void ScaleLink::ReadAnswer(bool log_answer) {
  // Room for more than the answer byte: whatever came with it is taken by the same receive,
  // which is thereby also the look for bytes no frame asked for.
  char received[1 + kShownSurplusBytes];
  const std::size_t count = client_->ReceiveSome(received, sizeof received);
  CountAnswerWait();
  // A connection closed instead of an answer is not the scale's answer to anything.
  if (count == 0) throw Error(ErrorKind::kIo, kClosedByScaleText);
  answer_.assign(1, received[0]);
  if (log_answer || count > 1) LogAnswer();
  if (count > 1) FailOnSurplus(ByteString(received + 1, count - 1), kBytesAfterAnswerText);
}

void ScaleLink::CountAnswerWait() {
  auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::steady_clock::now() - sent_at_)
                    .count();
  ++answer_waits_[std::min<std::size_t>(
      std::bit_width(static_cast<std::uint64_t>(std::max<decltype(waited)>(waited, 0))),
      answer_waits_.size() - 1)];
}

void ScaleLink::CheckNothingPending(const char* message) {
  ByteString surplus = client_->ReceivePending(kShownSurplusBytes);
  if (!surplus.empty()) FailOnSurplus(surplus, message);
}

void ScaleLink::ExpectQuiet() {
  WithAddress([&] {
    FinishWrite();
    std::uint64_t answers = 0;
    for (std::uint32_t n : answer_waits_) answers += n;
    std::uint64_t slower = 0;  // answers in the buckets above `k`
    std::size_t k = answer_waits_.size() - 1;
    for (; k > 0; --k) {
      slower += answer_waits_[k];
      if (slower > answers / 64) break;  // bucket k is no longer among the rare slowest
    }
    const std::int64_t took_ms = k > 0 ? ((std::int64_t{1} << k) + 999) / 1000 : 0;
    ByteString surplus = client_->ReceiveArriving(
        kShownSurplusBytes,
        kQuietAfterFramesMs + static_cast<int>(std::min<std::int64_t>(took_ms, kReceiveTimeoutMs)));
    if (!surplus.empty()) FailOnSurplus(surplus, kBytesAfterAnswerText);
  });
}

void ScaleLink::FailOnSurplus(const ByteString& surplus, const char* message) {
  if (exchange_log_ && log_.Enabled(LogLevel::kDebug))
    log_.Write(kReceivedCaption, HexText16(surplus), LogLevel::kDebug);
  std::string hex = HexText(surplus, " ");
  hex.pop_back();  // the separator after the last byte
  throw Error(ErrorKind::kProtocol, message + hex);
}

void ScaleLink::Run(Command command) {
  WithAddress([&] {
    FinishWrite();  // an answer still due belongs to the frame before this one
    frame_ = std::move(command.frame);
    SendFrame();
    ReadAnswer(/*log_answer=*/true);
    JudgeAnswer(frame_, command.record ? &*command.record : nullptr, Answer());
  });
}

void ScaleLink::StartWrite(const Command& command) {
  StartWrite(command.frame, command.record ? &*command.record : nullptr);
}

void ScaleLink::StartWrite(std::string_view frame, const RecordName* record) {
  WithAddress([&] {
    // The answer of the frame in flight is judged first (never two frames in flight), but its
    // exchange record, and this frame's, are written only after this frame went out: the scale
    // stores the record while the log is written. The records keep their order in the file,
    // and both are written whatever becomes of the send.
    const bool answer_unlogged = in_flight_;
    if (answer_unlogged) JudgeInFlight(/*log_answer=*/false);
    frame_.assign(frame);
    // Right after an answer nothing has run but its judging: the receive that took it had room
    // for more and took whatever else had come, so it was the look for stray bytes. Before the
    // first frame of a run, look.
    if (!answer_unlogged) CheckNothingPending(kBytesBeforeFrameText);
    try {
      client_->Send(frame_);
    } catch (...) {
      if (answer_unlogged) LogAnswer();
      LogSent(frame_);
      throw;
    }
    sent_at_ = std::chrono::steady_clock::now();
    in_flight_ = true;
    in_flight_named_ = record != nullptr;
    if (record) {
      in_flight_record_.number = record->number;
      in_flight_record_.key = record->key;
      in_flight_record_.name.assign(record->name);  // the room of the one before is reused
    }
    if (answer_unlogged) LogAnswer();
    LogSent(frame_);
  });
}

void ScaleLink::FinishWrite() {
  if (in_flight_) WithAddress([&] { JudgeInFlight(/*log_answer=*/true); });
}

void ScaleLink::JudgeInFlight(bool log_answer) {
  // Taken out first: a failed read leaves nothing in flight.
  const bool named = in_flight_named_;
  in_flight_ = false;
  in_flight_named_ = false;
  ReadAnswer(log_answer);
  const std::uint8_t answer = Answer();
  if (frame_.size() < 2 || Accepted(static_cast<std::uint8_t>(frame_[0]), answer)) return;
  if (!log_answer) LogAnswer();  // a refusal ends the run: its record goes before the failure
  JudgeAnswer(frame_, named ? &in_flight_record_ : nullptr, answer);
}

std::uint8_t ScaleLink::Answer() const {
  return answer_.empty() ? 0 : static_cast<std::uint8_t>(answer_[0]);
}

}  // namespace velquora::protocol
