// Every table's frames through the scale link over a real connection to the emulator, decoded
// back by the emulator's own decoders; answer judging with the emulator's fault switches.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "common/error.h"
#include "common/hex.h"
#include "common/text.h"
#include "log/log_writer.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "protocol/scale_link.h"
#include "protocol/wire_format.h"
#if defined(_WIN32)
// Windows builds run under wine; the emulator is a Linux program reached over 127.0.0.1.
#include "e2e/remote_scale.h"
#else
#include "scale_emulator.h"
#endif
#include "support/log_tail.h"
#include "support/temp_dir.h"
#include "support/test_helpers.h"

namespace velquora::protocol {
namespace {

using emulator::AnswerRule;
using emulator::Faults;
using nlohmann::json;
#if defined(_WIN32)
using Scale = e2e::RemoteScale;
#else
using Scale = emulator::ScaleEmulator;
#endif

class ScaleLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    scale_.Start();
    link_.Connect(u"127.0.0.1", scale_.port());
  }
  // Logging on into a file of the test's own: "start" is written, so the header goes before it.
  void LogTo(const std::string& name) {
    log_.SetLogFolder(dir_.path());
    log_.SetLogFileName(name);
    log_.SetLogDetail(3);
    log_.Write(u"start", u"", LogLevel::kInfo);
  }
  void Answer(int command, int table, int byte, bool close = false) {
    Faults f;
    f.rules.push_back(AnswerRule{command, table, -1, byte, close});
    scale_.SetFaults(f);
  }

  Scale scale_;
  test::TempDir dir_;
  log::LogWriter log_{platform::RealFileSystem(), platform::SystemClock(),
                      [] { return std::string(); }};
  ScaleLink link_{log_};
  LabelSettings label_{3, 0, 1, 2, 17};
};

TEST_F(ScaleLinkTest, PluRecordsDecodeToTheValuesWritten) {
  PluValues v;
  v.plu = 4711;
  v.main_group = 12;
  v.sell_by_date = 5;
  v.sell_by_time = 1230;
  v.used_by_date = 7;
  v.packed_date = 8;
  v.packed_time = 9;
  v.tare = 25;
  v.barcode = u"2401234999";
  v.name = u"Сыр||Российский";
  v.ingredients = u"молоко||соль";
  v.spec_message = u"Хранить при +4 °C";
  v.price = 1234500;  // 123.45
  v.weight_goods = false;
  v.name_fonts.line1 = 5;
  link_.Run(PluWrite(v, label_));
  json p = scale_.Dump()["plu"][0];
  EXPECT_EQ(p["plu"], 4711);
  EXPECT_EQ(p["group"], 12);
  EXPECT_EQ(p["price"], 12345);
  EXPECT_EQ(p["weight_goods"], false);
  EXPECT_EQ(p["tare"], 25);
  EXPECT_EQ(p["ean"], "24012340000002");
  EXPECT_EQ(p["label_format"], 17);
  EXPECT_EQ(p["sell_by_time"], 1230);
  EXPECT_EQ(p["used_by_date"], 7);
  EXPECT_EQ(p["packed_time"], 9);
  EXPECT_EQ(p["name"], json::parse(R"([{"font":5,"text":"Сыр"},{"font":3,"text":"Российский"}])"));
  EXPECT_EQ(p["ingredients"],
            json::parse(R"([{"font":0,"text":"молоко"},{"font":0,"text":"соль"}])"));
  EXPECT_EQ(p["spec_message"], json::parse(R"([{"font":1,"text":"Хранить при +4 °C"}])"));
  EXPECT_EQ(link_.last_frame().substr(0, 2), "\xF1\x25");
  EXPECT_EQ(link_.last_answer(), "\x06");
}

TEST_F(ScaleLinkTest, OtherTablesRoundTrip) {
  link_.Run(GroupWrite(5, u"Мясо"));
  link_.Run(ShopWrite(1, u"Гастроном||ул. Мира, 1", label_));
  link_.Run(ImageWrite(3, u"AB"));
  link_.Run(GroupImageWrite(5, 3));
  link_.Run(PresetKeyWrite(2, 4711, 1, 258, u"Хлеб"));
  link_.Run(SystemSettingsWrite(u"2024-05-17T10:30:00"));
  json d = scale_.Dump();
  EXPECT_EQ(d["main_groups"][0], json::parse(R"({"group":5,"name":"Мясо"})"));
  EXPECT_EQ(d["shops"][0]["label_format"], 17);
  EXPECT_EQ(d["shops"][0]["name"],
            json::parse(R"([{"font":2,"text":"Гастроном"},{"font":2,"text":"ул. Мира, 1"}])"));
  EXPECT_EQ(d["images"][0], json::parse(R"({"image":3,"data":"4142"})"));
  EXPECT_EQ(d["group_images"][0], json::parse(R"({"group":5,"image":3})"));
  EXPECT_EQ(d["preset_keys"][0],
            json::parse(R"({"preset":2,"key":4711,"status":1,"name":"Хлеб","image":258})"));
  EXPECT_EQ(d["system"], json::parse(R"({"date_ddmmyy":"170524","time_hhmm":"1030"})"));

  link_.Run(RecordDelete(kTableMainGroup, 5));  // 0x06: deleted
  link_.Run(RecordDelete(kTableMainGroup, 5));  // 0xE2: no such record
  EXPECT_TRUE(scale_.Records(0x23).empty());
  link_.Run(TableClear(kTableImage));
  link_.Run(TableClear(kTableGroupImage));
  link_.Run(TableClear(kTablePresetKey));
  EXPECT_TRUE(scale_.Records(0x37).empty() && scale_.Records(0xA3).empty() &&
              scale_.Records(0x41).empty());
}

TEST_F(ScaleLinkTest, RefusalsAreJudgedPerOperation) {
  Answer(0xF3, 0x25, 0xE2);
  EXPECT_NO_THROW(link_.Run(RecordDelete(kTablePlu, 1)));
  Answer(0xF3, 0x25, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(RecordDelete(kTablePlu, 1)); }),
            "Ошибка удаления из таблицы 25, Plu = 1");
  Answer(0xF3, 0x23, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(RecordDelete(kTableMainGroup, 1)); }),
            "Ошибка удаления из таблицы 23, Code = 1");
  Answer(0xF2, 0x23, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(TableClear(kTableMainGroup)); }),
            "Ошибка очистки таблицы 23");
  Answer(0xF1, 0x23, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(GroupWrite(7, u"Сыры")); }),
            "Ошибка записи в таблицу 23, Code = 7; Name = Сыры");
  Answer(0xF1, 0x3D, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(ShopWrite(1, u"x", label_)); }),
            "Ошибка записи в таблицу 3D");
  Answer(0xF1, 0x41, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(PresetKeyWrite(2, 3, 0, 0, u"x")); }),
            "Ошибка записи в таблицу 41, PresetNumber = 2; PresetKey = 3");
  Answer(0xF1, 0x4E, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(SystemSettingsWrite(u"2024-05-17T10:30:00")); }),
            "Ошибка записи в таблицу 4E");
  Answer(0xF1, 0x37, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(RawCommand(u"F137000000010008003A")); }),
            "Ошибка записи в таблицу 37");
  Answer(0xF2, 0x41, 0x15);
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(RawCommand(u"f241")); }), "Ошибка очистки таблицы 41");
  Answer(0xF7, 0x23, 0x15);
  EXPECT_NO_THROW(link_.Run(RawCommand(u"F72300000001")));  // reads are not judged
  EXPECT_EQ(test::ErrorOf([&] { link_.Run(RawCommand(u"F1ZZ")); }), "Некорректные входные данные");
}

// The kind says what went wrong, the context which scale: nothing needs to read the text.
TEST_F(ScaleLinkTest, ErrorsCarryTheirKindAndTheScale) {
  const std::string address = "127.0.0.1:" + std::to_string(scale_.port());
  auto error_of = [](const std::function<void()>& f) -> Error {
    try {
      f();
    } catch (const Error& e) {
      return e;
    }
    return Error(ErrorKind::kInternal, "no error");
  };
  Answer(0xF2, 0x25, 0x15);
  Error refused = error_of([&] { link_.Run(TableClear(kTablePlu)); });
  EXPECT_EQ(refused.kind(), ErrorKind::kRefused);
  EXPECT_EQ(refused.context().address, address);
  Faults twice;
  twice.answer_copies = 2;
  scale_.SetFaults(twice);
  Error out_of_step = error_of([&] { link_.Run(TableClear(kTablePlu)); });
  EXPECT_EQ(out_of_step.kind(), ErrorKind::kProtocol);
  EXPECT_EQ(out_of_step.context().address, address);
  EXPECT_EQ(error_of([&] { link_.Run(RawCommand(u"F1ZZ")); }).kind(), ErrorKind::kInvalid);
  scale_.Stop();
  Error unreachable = error_of([&] { link_.Connect(u"127.0.0.1", scale_.port()); });
  EXPECT_EQ(unreachable.kind(), ErrorKind::kIo);
  EXPECT_EQ(unreachable.context().address, address);
}

// A connection the scale closes instead of answering is named for what it is, not taken for a
// refusal (whose advice, label formats and fonts, would mislead).
TEST_F(ScaleLinkTest, AClosedConnectionInsteadOfAnAnswerIsNamedSo) {
  Answer(0xF1, 0x25, -1, true);
  PluValues v;
  v.plu = 17;
  v.barcode = u"2401234";
  v.name = u"Сыр";
  try {
    link_.Run(PluWrite(v, label_));
    ADD_FAILURE() << "a closed connection passed for an answer";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Соединение закрыто весами");
    EXPECT_EQ(e.kind(), ErrorKind::kIo);
  }
}

TEST_F(ScaleLinkTest, TheExchangeLogShowsFramesAndAnswers) {
  LogTo("exchange");
  test::LogTail tail(log_.LogFilePath());
  link_.Run(TableClear(kTablePlu));  // exchange log off: nothing
  link_.set_exchange_log(true);
  link_.Run(TableClear(kTablePlu));
  auto lines = tail.Lines();
  log_.SetLogDetail(0);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(24), "DEBUG\tДанные обмена ->: \tF2 25");
  EXPECT_EQ(lines[1].substr(24), "DEBUG\tДанные обмена <-: \t06");
}

TEST_F(ScaleLinkTest, AnswersOutOfStepFailAndTheLogShowsTheBytes) {
  LogTo("out_of_step");
  link_.set_exchange_log(true);
  struct Case {
    int copies;
    std::string noise;
    const char* message;
    const char* logged;
  } cases[] = {
      {2, "", "Ошибка протокола обмена: лишние байты после ответа весов: 06", "06"},
      {1, test::Bytes({0xFF, 0x13, 0x00}),
       "Ошибка протокола обмена: лишние байты после ответа весов: FF 13 00", "FF1300"},
  };
  for (const Case& c : cases) {
    Faults f;
    f.answer_copies = c.copies;
    f.noise = c.noise;
    scale_.SetFaults(f);
    link_.Connect(u"127.0.0.1", scale_.port());
    test::LogTail tail(log_.LogFilePath());
    EXPECT_EQ(test::ErrorOf([&] { link_.Run(TableClear(kTablePlu)); }), c.message);
    EXPECT_EQ(link_.last_answer(), "\x06");
    auto lines = tail.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].substr(24), "DEBUG\tДанные обмена <-: \t06");
    EXPECT_EQ(lines[2].substr(24), std::string("DEBUG\tДанные обмена <-: \t") + c.logged);
  }
  log_.SetLogDetail(0);
}

// In overlapped writes a frame's and the last answer's records are written after the frame
// went out, yet the file reads as if each were written at once: every frame, then its answer,
// and nothing of a frame that a refusal kept from being sent.
TEST_F(ScaleLinkTest, OverlappedWritesLogEachFrameAndAnswerInTurn) {
  LogTo("overlapped");
  link_.set_exchange_log(true);
  for (long refused : {0L, 2L}) {
    SCOPED_TRACE(refused);
    Faults f;
    if (refused) f.rules.push_back(AnswerRule{0xF1, 0x23, refused, 0x15, false});
    scale_.SetFaults(f);
    link_.Connect(u"127.0.0.1", scale_.port());
    test::LogTail tail(log_.LogFilePath());
    std::vector<std::string> sent;  // the frames as the log shows them
    std::string error = test::ErrorOf([&] {
      for (int code = 1; code <= 3; ++code) {
        Command write = GroupWrite(code, u"Группа");
        std::string hex = HexText(write.frame, " ");
        hex.pop_back();  // the blank after the last byte is trimmed in the file
        sent.push_back("->: \t" + hex);
        link_.StartWrite(std::move(write));
      }
      link_.FinishWrite();
    });
    std::vector<std::string> expected;
    if (refused) {
      EXPECT_EQ(error, "Ошибка записи в таблицу 23, Code = 2; Name = Группа");
      expected = {sent[0], "<-: \t06", sent[1], "<-: \t15"};  // the third frame never went out
    } else {
      EXPECT_EQ(error, "");
      expected = {sent[0], "<-: \t06", sent[1], "<-: \t06", sent[2], "<-: \t06"};
    }
    std::vector<std::string> logged;
    for (const std::string& line : tail.Lines()) {
      std::size_t at = line.find("Данные обмена ");
      if (at != std::string::npos)
        logged.push_back(line.substr(at + std::strlen("Данные обмена ")));
    }
    EXPECT_EQ(logged, expected);
  }
  log_.SetLogDetail(0);
}

}  // namespace
}  // namespace velquora::protocol
