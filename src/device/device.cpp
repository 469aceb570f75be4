#include "device/device.h"

#include <algorithm>
#include <bit>

#include "common/error.h"
#include "common/hex.h"
#include "common/text.h"
#include "device/protocol.h"
#include "log/log_writer.h"

namespace velquora::device {

namespace p = protocol;

namespace {

constexpr char kBytesBeforeFrame[] =
    "Ошибка протокола обмена: данные от весов до отправки команды: ";
constexpr char kBytesAfterAnswer[] = "Ошибка протокола обмена: лишние байты после ответа весов: ";

std::string HexByte(std::uint8_t b) {
  return HexText(std::string(1, static_cast<char>(b)));
}

}  // namespace

std::string WriteErrorText(std::uint8_t table) {
  return "Ошибка записи в таблицу " + HexByte(table);
}
std::string DeleteErrorText(std::uint8_t table) {
  return "Ошибка удаления из таблицы " + HexByte(table);
}

TDevice::TDevice(std::unique_ptr<TTCPSocket> socket) : FTCPSocket(std::move(socket)) {}

TDevice::~TDevice() {
  Disable();
}

void TDevice::Enable(const std::u16string& address, std::int32_t port) {
  FTCPSocket->IPAddress = address;
  FTCPSocket->IPPort = port;
  FAnswerWaits = {};
  for (int attempt = 1;; ++attempt) {
    try {
      FTCPSocket->SetConnection();
      return;
    } catch (...) {
      if (attempt == 3) throw;
    }
  }
}

void TDevice::Disable() {
  FPending.reset();
  FTCPSocket->CloseConnection();
}

void TDevice::SendCommand(const ByteString& command) {
  // The answer byte is judged only if it arrived after the frame went out: a byte already
  // waiting, or one more after the answer, would put every later answer on the wrong frame.
  CheckNothingPending(kBytesBeforeFrame);
  LogSent(command);
  FTCPSocket->WriteStr(command);
  FSentAt = std::chrono::steady_clock::now();
}

void TDevice::LogSent(const ByteString& command) const {
  if (ExtLogEnabled) {
    log::LogWriter::Instance().WriteLog(u"Данные обмена -> ", HexText16(command, u" "),
                                        log::TLogLevel::llDebug);
  }
}

void TDevice::LogAnswer() const {
  if (ExtLogEnabled) {
    log::LogWriter::Instance().WriteLog(u"Данные обмена <- ", HexText16(FResponse, u""),
                                        log::TLogLevel::llDebug);
  }
}

void TDevice::ReadAnswer(bool log_answer) {
  // Room for more than the answer byte: whatever came with it is taken by the same receive,
  // which is thereby also the look for bytes no frame asked for.
  char received[1 + kShownSurplusBytes];
  const std::size_t count = FTCPSocket->ReadSome(received, sizeof received);
  CountAnswerWait();
  // A connection closed instead of an answer reads as a 00 answer: a refusal.
  FResponse.assign(1, count == 0 ? '\0' : received[0]);
  if (log_answer || count > 1) LogAnswer();
  if (count > 1) FailOnSurplus(ByteString(received + 1, count - 1), kBytesAfterAnswer);
}

void TDevice::CountAnswerWait() {
  auto waited = std::chrono::duration_cast<std::chrono::microseconds>(
                    std::chrono::steady_clock::now() - FSentAt)
                    .count();
  ++FAnswerWaits[std::min<std::size_t>(
      std::bit_width(static_cast<std::uint64_t>(std::max<decltype(waited)>(waited, 0))),
      FAnswerWaits.size() - 1)];
}

void TDevice::CheckNothingPending(const char* message) {
  ByteString surplus = FTCPSocket->ReadPending(kShownSurplusBytes);
  if (!surplus.empty()) FailOnSurplus(surplus, message);
}

void TDevice::ExpectQuiet() {
  FinishWrite();
  std::uint64_t answers = 0;
  for (std::uint32_t n : FAnswerWaits) answers += n;
  std::uint64_t slower = 0;  // answers in the buckets above `k`
  std::size_t k = FAnswerWaits.size() - 1;
  for (; k > 0; --k) {
    slower += FAnswerWaits[k];
    if (slower > answers / 64) break;  // bucket k is no longer among the rare slowest
  }
  const std::int64_t took_ms = k > 0 ? ((std::int64_t{1} << k) + 999) / 1000 : 0;
  ByteString surplus = FTCPSocket->ReadArriving(
      kShownSurplusBytes,
      kQuietAfterFramesMs + static_cast<int>(std::min<std::int64_t>(took_ms, kReceiveTimeoutMs)));
  if (!surplus.empty()) FailOnSurplus(surplus, kBytesAfterAnswer);
}

void TDevice::FailOnSurplus(const ByteString& surplus, const char* message) {
  if (ExtLogEnabled) {
    log::LogWriter::Instance().WriteLog(u"Данные обмена <- ", HexText16(surplus, u""),
                                        log::TLogLevel::llDebug);
  }
  std::u16string hex = HexText16(surplus, u" ");
  hex.pop_back();  // the separator after the last byte
  throw Error(ErrorKind::kProtocol, message + ToUtf8(hex));
}

void TDevice::RunCommand(const ByteString& command) {
  FinishWrite();  // an answer still due belongs to the frame before this one
  SendCommand(command);
  ReadAnswer(/*log_answer=*/true);
}

std::string WriteRefusalText(const TDevice::WriteRefusal& r) {
  switch (r.table) {
    case p::kTablePlu:
      return "Ошибка записи в таблицу 25, Plu = " + std::to_string(r.number) +
             "; Name = " + ToUtf8(r.name);
    case p::kTableMainGroup:
      return "Ошибка записи в таблицу 23, Code = " + std::to_string(r.number) +
             "; Code = " + ToUtf8(r.name);
    default:
      return WriteErrorText(r.table);
  }
}

void TDevice::StartWrite(ByteString frame, WriteRefusal refusal) {
  // The answer of the frame in flight is judged first (never two frames in flight), but its
  // exchange record, and this frame's, are written only after this frame went out: the scale
  // stores the record while the log is written. The records keep their order in the file, and
  // both are written whatever becomes of the send.
  const bool answer_unlogged = FPending.has_value();
  if (answer_unlogged) JudgeAnswer(/*log_answer=*/false);
  FRequest = std::move(frame);
  // Right after an answer nothing has run but its judging: the receive that took it had room for
  // more and took whatever else had come, so it was the look for stray bytes. Before the first
  // frame of a run, look.
  if (!answer_unlogged) CheckNothingPending(kBytesBeforeFrame);
  try {
    FTCPSocket->WriteStr(FRequest);
  } catch (...) {
    if (answer_unlogged) LogAnswer();
    LogSent(FRequest);
    throw;
  }
  FSentAt = std::chrono::steady_clock::now();
  FPending = std::move(refusal);
  if (answer_unlogged) LogAnswer();
  LogSent(FRequest);
}

void TDevice::FinishWrite() {
  if (FPending) JudgeAnswer(/*log_answer=*/true);
}

void TDevice::JudgeAnswer(bool log_answer) {
  // Taken out first: a failed read leaves nothing in flight.
  WriteRefusal refusal = std::move(*FPending);
  FPending.reset();
  ReadAnswer(log_answer);
  if (Answer() == p::kAck) return;
  if (!log_answer) LogAnswer();  // a refusal ends the run: its record goes before the failure
  // The refusal text is built only when needed: this runs once per goods record.
  throw Error(ErrorKind::kRefused, WriteRefusalText(refusal));
}

ByteString TDevice::PluFrame(const PluValues& v) {
  FPLURecord = BuildPluRecord(v, Label);
  const ByteString& record = FPLURecord.Bytes();
  ByteString frame;
  frame.reserve(2 + record.size());
  frame += static_cast<char>(p::kWrite);
  frame += static_cast<char>(p::kTablePlu);
  frame += record;
  return frame;
}

TDevice::WriteRefusal TDevice::PluRefusal(const PluValues& v) {
  return {p::kTablePlu, v.plu, v.name};
}

ByteString TDevice::GroupWriteFrame(std::int64_t code, const std::u16string& name) const {
  return GroupFrame(code, name);
}

ByteString TDevice::ShopWriteFrame(std::int64_t code, const std::u16string& name) const {
  return ShopFrame(code, name, Label);
}

std::uint8_t TDevice::Answer() const {
  return FResponse.empty() ? 0 : static_cast<std::uint8_t>(FResponse[0]);
}

void TDevice::Send(ByteString frame) {
  FRequest = std::move(frame);
  RunCommand(FRequest);
}

void TDevice::Exchange(ByteString frame, std::initializer_list<std::uint8_t> accepted,
                       const std::string& message) {
  Send(std::move(frame));
  if (std::find(accepted.begin(), accepted.end(), Answer()) == accepted.end())
    throw Error(ErrorKind::kRefused, message);
}

void TDevice::WritePlu(const PluValues& v) {
  StartWrite(PluFrame(v), PluRefusal(v));
  FinishWrite();
}

void TDevice::DeletePlu(std::int64_t record) {
  Exchange(RecordNumberFrame(p::kDelete, p::kTablePlu, record), {p::kAck, p::kNoRecord},
           DeleteErrorText(p::kTablePlu));
}

void TDevice::ClearPlu() {
  Exchange(ClearFrame(p::kTablePlu), {p::kAck}, DeleteErrorText(p::kTablePlu));
}

void TDevice::WriteGroup(std::int64_t code, const std::u16string& name) {
  StartWrite(GroupFrame(code, name), {p::kTableMainGroup, code, name});
  FinishWrite();
}

void TDevice::DeleteGroup(std::int64_t record) {
  // 0x06 is the scale's acceptance, 0xE2 its "no such record": both leave the record gone.
  Exchange(RecordNumberFrame(p::kDelete, p::kTableMainGroup, record), {p::kAck, p::kNoRecord},
           DeleteErrorText(p::kTableMainGroup));
}

void TDevice::ReadMainGroup(std::int64_t record) {
  Send(RecordNumberFrame(p::kRead, p::kTableMainGroup, record));  // the caller reads Response
}

void TDevice::ClearMainGroup() {
  Exchange(ClearFrame(p::kTableMainGroup), {p::kAck}, DeleteErrorText(p::kTableMainGroup));
}

void TDevice::WriteShop(std::int64_t code, const std::u16string& name) {
  StartWrite(ShopFrame(code, name, Label), {p::kTableShop, code, {}});
  FinishWrite();
}

void TDevice::WriteImage(std::int64_t image, const std::u16string& data) {
  Exchange(ImageFrame(image, data), {p::kAck}, WriteErrorText(p::kTableImage));
}

void TDevice::ClearImage() {
  Exchange(ClearFrame(p::kTableImage), {p::kAck}, DeleteErrorText(p::kTableImage));
}

void TDevice::WriteGroupImage(std::int64_t group, std::int64_t image) {
  Exchange(GroupImageFrame(group, image), {p::kAck}, WriteErrorText(p::kTableGroupImage));
}

void TDevice::ClearGroupImage() {
  Exchange(ClearFrame(p::kTableGroupImage), {p::kAck}, DeleteErrorText(p::kTableGroupImage));
}

void TDevice::WritePresetKey(std::int64_t preset, std::int64_t key, std::int64_t status,
                             std::int64_t image, const std::u16string& name) {
  Exchange(PresetKeyFrame(preset, key, status, image, name), {p::kAck},
           "Ошибка записи в таблицу 41, PresetNumber = " + std::to_string(preset) +
               "; PresetKey = " + std::to_string(key));
}

void TDevice::ClearPresetKeys() {
  Exchange(ClearFrame(p::kTablePresetKey), {p::kAck}, DeleteErrorText(p::kTablePresetKey));
}

void TDevice::UploadSystemSettings(const std::u16string& date_time) {
  Exchange(SystemSettingsFrame(date_time), {p::kAck}, WriteErrorText(p::kTableSystem));
}

void TDevice::UploadData(const std::u16string& request) {
  if (!IsHexData(request)) throw Error(ErrorKind::kInvalid, "Некорректные входные данные");
  ByteString frame = HexToBytes(request);
  RunCommand(frame);
  if (frame.size() < 2) return;
  auto command = static_cast<std::uint8_t>(frame[0]);
  auto table = static_cast<std::uint8_t>(frame[1]);
  std::uint8_t answer = Answer();
  // Judged by the frame's own command: a refused write, clear or delete is a failure.
  if (command == p::kWrite && answer != p::kAck)
    throw Error(ErrorKind::kRefused, WriteErrorText(table));
  if (command == p::kClear && answer != p::kAck)
    throw Error(ErrorKind::kRefused, DeleteErrorText(table));
  if (command == p::kDelete && answer != p::kAck && answer != p::kNoRecord)
    throw Error(ErrorKind::kRefused, DeleteErrorText(table));
}

}  // namespace velquora::device
