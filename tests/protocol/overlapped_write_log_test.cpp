// The exchange log of overlapped record writes on every way a run can end: the records of a
// frame and of the answer before it are written after the frame went out, yet the file must read
// as if each were written on its own: every frame sent, then its answer, a failure's bytes last,
// and nothing of a frame that never went out.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "common/hex.h"
#include "common/text.h"
#include "log/log_writer.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "protocol/scale_link.h"
#include "support/log_tail.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"

namespace velquora::protocol {
namespace {

// A scale played from a script: each receive takes the next chunk ("" = the peer closed,
// "!" = the receive failed); a chunk marked as already arrived is what Pending reports.
class ScriptedScale : public platform::SocketApi {
 public:
  struct Chunk {
    std::string bytes;
    bool arrived_early = false;  // waiting before the driver looks
  };
  std::deque<Chunk> chunks;
  int fail_send = 0;  // the send that fails, counting from 1; 0: none

  platform::SocketHandle OpenTcp() override { return 7; }
  bool Connect(platform::SocketHandle, std::uint32_t, std::uint16_t, int) override { return true; }
  bool SetReceiveTimeout(platform::SocketHandle, int) override { return true; }
  platform::IoResult Send(platform::SocketHandle, const void*, std::size_t size) override {
    if (++sends_ == fail_send) return {-1, false};
    return {static_cast<long>(size), false};
  }
  platform::IoResult Receive(platform::SocketHandle, void* data, std::size_t size) override {
    if (chunks.empty()) return {-1, false};  // a silent scale: the wait runs out
    Chunk c = chunks.front();
    chunks.pop_front();
    if (c.bytes == "!") return {-1, false};
    std::size_t n = std::min(size, c.bytes.size());
    std::memcpy(data, c.bytes.data(), n);
    return {static_cast<long>(n), false};
  }
  long Pending(platform::SocketHandle) override {
    return !chunks.empty() && chunks.front().arrived_early
               ? static_cast<long>(chunks.front().bytes.size())
               : 0;
  }
  void ShutdownAndClose(platform::SocketHandle) override {}

 private:
  int sends_ = 0;
};

TEST(OverlappedWriteLog, EveryEndingReadsFrameThenAnswerInTurn) {
  test::TempDir dir;
  log::LogWriter log(platform::RealFileSystem(), platform::SystemClock(),
                     [] { return std::string(); });
  log.SetLogFolder(dir.path());
  log.SetLogFileName("overlapped_endings");
  log.SetLogDetail(3);
  log.Write(u"start", u"", LogLevel::kInfo);
  const std::string ack = "\x06";
  struct Case {
    const char* what;
    std::vector<ScriptedScale::Chunk> chunks;
    int fail_send;
    const char* error;
    // The exchange records: "F1", "F2", "F3" stand for the frames of records 1..3.
    std::vector<std::string> logged;
  } cases[] = {
      {"all accepted, quiet after",
       {{ack}, {ack}, {ack}},
       0,
       "",
       {"F1", "06", "F2", "06", "F3", "06"}},
      {"refusal of the second",
       {{ack}, {"\x15"}},
       0,
       "Ошибка записи в таблицу 23, Code = 2; Name = Г",
       {"F1", "06", "F2", "15"}},
      {"closed instead of the second answer",
       {{ack}, {""}},
       0,
       "Соединение закрыто весами",
       {"F1", "06", "F2"}},
      {"surplus with the second answer",
       {{ack}, {"\x06\xFF\x13"}},
       0,
       "Ошибка протокола обмена: лишние байты после ответа весов: FF 13",
       {"F1", "06", "F2", "06", "FF13"}},
      {"receive fails on the second answer",
       {{ack}, {"!"}},
       0,
       "Ошибка при получении ответа от сервера",
       {"F1", "06", "F2"}},
      {"third frame cannot be sent",
       {{ack}, {ack}},
       3,
       "Ошибка при отправке данных серверу",
       {"F1", "06", "F2", "06", "F3"}},
      {"byte waiting before the first frame",
       {{"\x06", true}},
       0,
       "Ошибка протокола обмена: данные от весов до отправки команды: 06",
       {"06"}},
      {"late byte after the last answer",
       {{ack}, {ack}, {ack}, {"\x15", true}},
       0,
       "Ошибка протокола обмена: лишние байты после ответа весов: 15",
       {"F1", "06", "F2", "06", "F3", "06", "15"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedScale scale;
    scale.chunks.assign(c.chunks.begin(), c.chunks.end());
    scale.fail_send = c.fail_send;
    ScaleLink link(log, std::make_unique<TcpClient>(scale));
    link.set_exchange_log(true);
    link.Connect(u"10.0.0.5", 1111);
    test::LogTail tail(log.LogFilePath());
    std::vector<std::string> frames;
    std::string error = test::ErrorOf([&] {
      for (int code = 1; code <= 3; ++code) {
        Command write = GroupWrite(code, u"Г");
        std::string hex = HexText(write.frame, " ");
        hex.pop_back();  // the blank after the last byte is trimmed in the file
        frames.push_back(hex);
        link.StartWrite(std::move(write));
      }
      link.ExpectQuiet();
    });
    EXPECT_EQ(error, c.error);
    std::vector<std::string> expected;
    for (const std::string& e : c.logged) {
      if (e.size() == 2 && e[0] == 'F')
        expected.push_back("->: \t" + frames.at(static_cast<std::size_t>(e[1] - '1')));
      else
        expected.push_back("<-: \t" + e);
    }
    std::vector<std::string> logged;
    for (const std::string& line : tail.Lines()) {
      std::size_t at = line.find("Данные обмена ");
      if (at != std::string::npos)
        logged.push_back(line.substr(at + std::strlen("Данные обмена ")));
    }
    EXPECT_EQ(logged, expected);
  }
  log.SetLogDetail(0);
}

}  // namespace
}  // namespace velquora::protocol
