#pragma once
// The scale device object: connection with three attempts, one request / one answer byte per
// table operation, the exchange log, and the judging of answers.
#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "device/records.h"
#include "device/tcp_socket.h"

namespace velquora::device {

class TDevice {
 public:
  explicit TDevice(std::unique_ptr<TTCPSocket> socket = std::make_unique<TTCPSocket>());
  ~TDevice();  // closes an open connection

  void Enable(const std::u16string& address, std::int32_t port);
  void Disable();
  void RunCommand(const ByteString& command);

  // Overlapped record writes, one frame in flight as the protocol allows: StartWrite judges the
  // answer of the frame in flight, if there is one, then sends a record frame and returns
  // without waiting; FinishWrite reads and judges the answer of the frame in flight, if there is
  // one. The caller prepares the next record in between.
  struct WriteRefusal {
    std::uint8_t table = 0;
    std::int64_t number = 0;
    std::u16string name;
  };
  void StartWrite(ByteString frame, WriteRefusal refusal);
  void FinishWrite();
  bool WriteInFlight() const { return FPending.has_value(); }
  // Ends a run of several frames: judges the one in flight, then requires the connection to stay
  // quiet for a moment. A scale that answers each frame more than once, each copy a little later,
  // never leaves a byte waiting when a frame is sent, yet every copy is taken for the next frame's
  // answer; its unread answers are still coming when the driver's last frame has been judged, one
  // record's storing time apart. So the quiet lasts kQuietAfterFramesMs longer than the answers on
  // this connection took, all but a rare few (see FAnswerWaits).
  void ExpectQuiet();
  static constexpr int kQuietAfterFramesMs = 20;
  // The frame F1 25 + the PLU record of `values`; remembers the record in PLURecord. Fails on
  // values the record cannot hold, before anything is sent.
  ByteString PluFrame(const PluValues& values);
  static WriteRefusal PluRefusal(const PluValues& values);
  ByteString GroupWriteFrame(std::int64_t code, const std::u16string& name) const;
  ByteString ShopWriteFrame(std::int64_t code, const std::u16string& name) const;

  const ByteString& Request() const { return FRequest; }
  const ByteString& Response() const { return FResponse; }
  const TPLURecord& PLURecord() const { return FPLURecord; }
  bool ExtLogEnabled = false;
  LabelSettings Label;  // fonts and label format, set by the driver at Open

  void WritePlu(const PluValues& values);
  void DeletePlu(std::int64_t record);
  void ClearPlu();
  void WriteGroup(std::int64_t code, const std::u16string& name);
  void DeleteGroup(std::int64_t record);
  void ReadMainGroup(std::int64_t record);
  void ClearMainGroup();
  void WriteShop(std::int64_t code, const std::u16string& name);
  void WriteImage(std::int64_t image, const std::u16string& data);
  void ClearImage();
  void WriteGroupImage(std::int64_t group, std::int64_t image);
  void ClearGroupImage();
  void WritePresetKey(std::int64_t preset, std::int64_t key, std::int64_t status,
                      std::int64_t image, const std::u16string& name);
  void ClearPresetKeys();
  void UploadSystemSettings(const std::u16string& date_time);
  // Sends a whole frame given as hex text; the answer is judged by the frame's command byte.
  void UploadData(const std::u16string& request);

 private:
  // Makes `frame` the request and runs the exchange; the answer is left for the caller.
  void Send(ByteString frame);
  // The two halves of RunCommand. ReadAnswer writes the answer's exchange record unless
  // `log_answer` is false; bytes beyond the answer fail it, its record written first.
  void SendCommand(const ByteString& command);
  void ReadAnswer(bool log_answer);
  // Counts how long the answer just read took, into FAnswerWaits.
  void CountAnswerWait();
  // Reads and judges the answer of the write in flight; a refusal fails with its text.
  void JudgeAnswer(bool log_answer);
  // The exchange records of a frame sent and of the last answer.
  void LogSent(const ByteString& command) const;
  void LogAnswer() const;
  // Send, then fail with `message` unless the answer is one of `accepted`.
  void Exchange(ByteString frame, std::initializer_list<std::uint8_t> accepted,
                const std::string& message);
  std::uint8_t Answer() const;
  // Fails with `message` and the bytes when any have arrived that no frame asked for.
  void CheckNothingPending(const char* message);
  [[noreturn]] void FailOnSurplus(const ByteString& surplus, const char* message);
  static constexpr std::size_t kShownSurplusBytes = 32;

  std::unique_ptr<TTCPSocket> FTCPSocket;
  ByteString FRequest;
  ByteString FResponse;
  TPLURecord FPLURecord;
  std::optional<WriteRefusal> FPending;           // the write whose answer is still to be read
  std::chrono::steady_clock::time_point FSentAt;  // when the last frame went out
  // How many answers on this connection took under 2^k microseconds but not under 2^(k-1). The
  // quiet wait covers all but the slowest 1/64 of them: a scale that stores records slowly is
  // slow on every record, while a rare answer held up by this machine's own load must not
  // lengthen every call.
  std::array<std::uint32_t, 25> FAnswerWaits{};
};

// The refusal text of a record write, naming the record as the scale's tables do.
std::string WriteRefusalText(const TDevice::WriteRefusal& refusal);

// "Ошибка записи в таблицу XX" / "Ошибка удаления из таблицы XX" with XX in upper-case hex.
std::string WriteErrorText(std::uint8_t table);
std::string DeleteErrorText(std::uint8_t table);

}  // namespace velquora::device
