// The scale driver in this process: its system-settings operation, which the host's method
// table does not offer, and what a failure leaves beside its text.
#include <gtest/gtest.h>

#include "common/error.h"
#include "common/text.h"
#include "driver/scale_driver.h"
#include "log/log_writer.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "support/loopback_peer.h"

#if defined(_WIN32)
// Windows builds run under wine; the emulator is a Linux program reached over 127.0.0.1.
#include "e2e/remote_scale.h"
#else
#include "scale_emulator.h"
#endif

namespace velquora::driver {
namespace {

#if defined(_WIN32)
using Scale = e2e::RemoteScale;
#else
using Scale = emulator::ScaleEmulator;
#endif

using addin::Variant;

class ScaleDriverTest : public ::testing::Test {
 protected:
  void SetUp() override { scale_.Start(); }
  // Calls a host method by name; true when it answers true.
  bool Call(const char16_t* method, addin::Arguments args) {
    return driver_.methods().At(driver_.methods().Find(method)).handler(args).bool_value();
  }
  bool Open() {
    driver_.properties().Set(u"IPAddress", Variant::String(u"127.0.0.1"));
    driver_.properties().Set(u"IPPort", Variant::Int(scale_.port()));
    return Call(u"Open", {Variant()});
  }

  Scale scale_;
  log::LogWriter log_{platform::RealFileSystem(), platform::SystemClock(),
                      [] { return std::string(); }};
  ScaleDriver driver_{log_};
};

TEST_F(ScaleDriverTest, SystemSettingsSetTheScalesDateAndTime) {
  Scale& scale = scale_;
  ScaleDriver& driver = driver_;
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(driver.last_result().code, 1001);
  EXPECT_EQ(driver.last_result().text, u"Устройство не включено");
  EXPECT_EQ(scale.connections(), 0u);

  ASSERT_TRUE(Open());
  ASSERT_TRUE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(scale.Dump()["system"],
            nlohmann::json::parse(R"({"date_ddmmyy":"170524","time_hhmm":"1030"})"));

  EXPECT_FALSE(driver.UploadSystemSettings(u"<Table DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(driver.last_result().text, u"Не найден корневой узел");
  std::size_t frames = scale.Frames().size();
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17\"/>"));
  EXPECT_EQ(driver.last_result().text, u"Некорректная системная дата");
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings/>"));
  EXPECT_EQ(scale.Frames().size(), frames);
}

// Beside the text the host reads, the last result keeps the failure's kind, the scale it came
// from and how many records of an upload the scale had accepted.
TEST_F(ScaleDriverTest, AFailureKeepsItsKindTheScaleAndHowFarTheUploadGot) {
  auto goods = [](const char* third_price) {
    std::string doc = "<Table>";
    for (int plu = 1; plu <= 5; ++plu) {
      doc += "<Record PLU=\"" + std::to_string(plu) + "\" Code=\"" + std::to_string(plu) +
             "\" EANData=\"2400001\" Name=\"Товар\" GroupCode=\"1\" Price=\"" +
             (plu == 3 ? third_price : "1.50") +
             "\" SellByDate=\"1\" SellByTime=\"0\" PLUTare=\"0\"/>";
    }
    return Variant::String(ToUtf16(doc + "</Table>"));
  };
  const std::string address = "127.0.0.1:" + std::to_string(scale_.port());
  ASSERT_FALSE(Call(u"UploadGoods", {Variant(), goods("1.50"), Variant()}));
  EXPECT_EQ(driver_.last_result().kind, ErrorKind::kNotOpen);
  ASSERT_TRUE(Open());

  emulator::Faults refuse_third;
  refuse_third.rules.push_back(emulator::AnswerRule{0xF1, 0x25, 3, 0x15, false});
  scale_.SetFaults(refuse_third);
  ASSERT_FALSE(Call(u"UploadGoods", {Variant(), goods("1.50"), Variant()}));
  const LastResult& refused = driver_.last_result();
  EXPECT_EQ(refused.code, 1001);
  EXPECT_EQ(ToUtf8(refused.text),
            "Ошибка записи в таблицу 25, Plu = 3; Name = Товар (" + address + "; записано 2 из 5)");
  EXPECT_EQ(refused.kind, ErrorKind::kRefused);
  EXPECT_EQ(refused.context.address, address);
  EXPECT_EQ(refused.context.records_done, 2);

  scale_.SetFaults({});
  const std::size_t frames = scale_.Frames().size();
  ASSERT_FALSE(Call(u"UploadGoods", {Variant(), goods("много"), Variant()}));
  const LastResult& invalid = driver_.last_result();
  EXPECT_EQ(invalid.text, u"Некорректная цена (запись 3, строка 1, PLU 3: Price=\"много\")");
  EXPECT_EQ(invalid.kind, ErrorKind::kInvalid);
  EXPECT_EQ(invalid.context.records_done, -1) << "a document with a bad record is not sent";
  EXPECT_EQ(scale_.Frames().size(), frames);

  scale_.Stop();
  ASSERT_FALSE(Call(u"ClearGoods", {Variant()}));
  EXPECT_EQ(driver_.last_result().kind, ErrorKind::kIo);
  EXPECT_EQ(driver_.last_result().context.address, address);
}

// A scale that fails in the middle of an upload: each way it can fail has its own text, and the
// text says which scale, what the system said and how far the upload got.
TEST(ScaleDriverFaultTest, AScaleFailingMidUploadIsNamedForWhatHappened) {
  constexpr int kAnswerWaitMs = 300;
  enum class Fault { kClose, kReset, kStall, kRefuse, kUnknownAnswer, kStrayBytes };
  struct Case {
    Fault fault;
    const char* head;    // the text before the parentheses
    bool system_reason;  // the system's words follow the address
  };
  const Case cases[] = {
      {Fault::kClose, "Соединение закрыто весами", false},
      {Fault::kReset, "Соединение сброшено весами", true},
      {Fault::kStall, "Ошибка при получении ответа от сервера", false},
      {Fault::kRefuse, "Ошибка записи в таблицу 25, Plu = 3; Name = Товар", false},
      // A byte that is neither the acknowledgement nor the refusal: still refused, but shown.
      {Fault::kUnknownAnswer, "Ошибка записи в таблицу 25, Plu = 3; Name = Товар", false},
      {Fault::kStrayBytes, "Ошибка протокола обмена: лишние байты после ответа весов: AB CD",
       false},
  };
  std::string doc = "<Table>";
  for (int plu = 1; plu <= 5; ++plu) {
    doc += "<Record PLU=\"" + std::to_string(plu) + "\" Code=\"1\" EANData=\"2400001\" " +
           "Name=\"Товар\" GroupCode=\"1\" Price=\"1.50\" SellByDate=\"1\" SellByTime=\"0\" " +
           "PLUTare=\"0\"/>";
  }
  doc += "</Table>";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.head);
    log::LogWriter log{platform::RealFileSystem(), platform::SystemClock(),
                       [] { return std::string(); }};
    ScaleDriver driver{
        log, std::make_unique<protocol::TcpClient>(platform::RealSockets(),
                                                   protocol::kConnectTimeoutMs, kAnswerWaitMs)};
    auto call = [&](const char16_t* method, addin::Arguments args) {
      return driver.methods().At(driver.methods().Find(method)).handler(args).bool_value();
    };
    test::LoopbackPeer peer;
    peer.Serve([](test::LoopbackPeer::Connection&) {});  // Open's connection
    driver.properties().Set(u"IPAddress", Variant::String(u"127.0.0.1"));
    driver.properties().Set(u"IPPort", Variant::Int(peer.port()));
    ASSERT_TRUE(call(u"Open", {Variant()}));
    peer.Join();
    // Records 1 and 2 are stored; the fault comes with record 3.
    peer.Serve([fault = c.fault](test::LoopbackPeer::Connection& scale) {
      for (int record = 1;; ++record) {
        char head[8];
        if (scale.Receive(head, sizeof head, true) != sizeof head) return;
        const auto size = static_cast<std::size_t>(static_cast<unsigned char>(head[6]) << 8 |
                                                   static_cast<unsigned char>(head[7]));
        std::string rest(size - 6, '\0');
        if (scale.Receive(rest.data(), rest.size(), true) != static_cast<long>(rest.size())) return;
        if (record < 3) {
          scale.Send("\x06");
          continue;
        }
        char ignored;
        switch (fault) {
          case Fault::kClose:
            return;
          case Fault::kReset:
            scale.ResetOnClose();
            return;
          case Fault::kStall:
            scale.Receive(&ignored, 1);  // until the driver gives up and closes
            return;
          case Fault::kRefuse:
            scale.Send("\x15");
            break;
          case Fault::kUnknownAnswer:
            scale.Send("\x99");
            break;
          case Fault::kStrayBytes:
            scale.Send("\x06\xAB\xCD");
            break;
        }
        scale.Receive(&ignored, 1);
        return;
      }
    });
    EXPECT_FALSE(call(u"UploadGoods", {Variant(), Variant::String(ToUtf16(doc)), Variant()}));
    const std::string text = ToUtf8(driver.last_result().text);
    call(u"Close", {Variant()});
    peer.Join();

    const std::string address = "127.0.0.1:" + std::to_string(peer.port());
    const std::string tail = "; записано 2 из 5)";
    if (c.fault == Fault::kStall) {
      EXPECT_EQ(text, std::string(c.head) + " (" + address + ": нет ответа за " +
                          std::to_string(kAnswerWaitMs) + " мс" + tail);
    } else if (c.fault == Fault::kUnknownAnswer) {
      EXPECT_EQ(text, std::string(c.head) + " (" + address + ": неизвестный ответ весов 99" + tail);
    } else if (c.system_reason) {
      const std::string head = std::string(c.head) + " (" + address + ": ";
      EXPECT_EQ(text.rfind(head, 0), 0u) << text;
      ASSERT_GT(text.size(), head.size() + tail.size()) << text << ": the system's reason";
      EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
    } else {
      EXPECT_EQ(text, std::string(c.head) + " (" + address + tail);
    }
    EXPECT_EQ(driver.last_result().context.records_done, 2);
  }
}

}  // namespace
}  // namespace velquora::driver
