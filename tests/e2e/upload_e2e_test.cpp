// The scale methods end to end: what the host gets back and what the scale received.
#include <algorithm>
#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>

#include "e2e/e2e_fixture.h"

namespace velquora::e2e {
namespace {

using nlohmann::json;

class UploadTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    Set(u"CommodityFont", std::int32_t{3});
    Set(u"SpecMessageFont", std::int32_t{1});
    ASSERT_TRUE(Open());
  }
  static std::u16string Record(const std::u16string& attrs) { return u"<Record " + attrs + u"/>"; }
  static std::u16string Table(const std::u16string& records) {
    return u"<Table>" + records + u"</Table>";
  }
  static constexpr char16_t kGood[] =
      u"PLU=\"17\" Code=\"1\" EANData=\"2401234\" Name=\"Сыр||Российский\" GroupCode=\"3\" "
      u"Price=\"12,50\" "
      u"SellByDate=\"5\" SellByTime=\"30\" PLUTare=\"0\"";
  // kGood's attributes with some removed (nullopt), changed or added.
  static std::u16string Good(
      const std::vector<std::pair<std::u16string, std::optional<std::u16string>>>& changes) {
    std::vector<std::pair<std::u16string, std::u16string>> attrs = {
        {u"PLU", u"17"},          {u"Code", u"1"},
        {u"EANData", u"2401234"}, {u"Name", u"Сыр||Российский"},
        {u"GroupCode", u"3"},     {u"Price", u"12,50"},
        {u"SellByDate", u"5"},    {u"SellByTime", u"30"},
        {u"PLUTare", u"0"}};
    for (const auto& [name, value] : changes) {
      auto it =
          std::find_if(attrs.begin(), attrs.end(), [&](const auto& a) { return a.first == name; });
      if (it != attrs.end()) attrs.erase(it);
      if (value) attrs.emplace_back(name, *value);
    }
    std::u16string out;
    for (const auto& [name, value] : attrs) out += name + u"=\"" + value + u"\" ";
    return out;
  }
  std::size_t Sent() { return scale_->Frames().size(); }
  // The scale as a failure's location names it.
  std::string Address() { return "127.0.0.1:" + std::to_string(scale_->port()); }
  // `n` good records with PLU numbers 1..n.
  static std::u16string ManyGoods(int n) {
    std::u16string records;
    for (int i = 1; i <= n; ++i) records += Record(Good({{u"PLU", IntToText16(i)}}));
    return Table(records);
  }
  // What reached the host's status line, in order.
  std::vector<std::string> StatusCalls() {
    std::vector<std::string> out;
    for (const auto& c : d_->connection().calls) {
      if (c.rfind("SetStatusLine(", 0) == 0 || c == "ResetStatusLine") out.push_back(c);
    }
    return out;
  }
  // The scale stores every record of `table` slowly enough to make an upload a long one.
  void SlowScale(int table, std::vector<emulator::AnswerRule> first = {}) {
    emulator::Faults f;
    f.rules = std::move(first);
    emulator::AnswerRule slow;
    slow.table = table;
    slow.delay_ms = 4;
    f.rules.push_back(slow);
    scale_->SetFaults(f);
  }
};

// "Выгрузка товаров: 1 234 из 10 000" -> 1234, or -1 when the text has another shape.
long ShownCount(const std::string& call, const std::string& what, const std::string& total) {
  const std::string head = "SetStatusLine(Выгрузка " + what + ": ";
  const std::string tail = " из " + total + ")";
  if (call.rfind(head, 0) != 0 || call.size() < head.size() + tail.size() ||
      call.compare(call.size() - tail.size(), tail.size(), tail) != 0) {
    return -1;
  }
  std::string digits;
  for (char c : call.substr(head.size(), call.size() - head.size() - tail.size())) {
    if (c != ' ') digits += c;
  }
  return digits.empty() ? -1 : std::stol(digits);
}

TEST_F(UploadTest, GoodsArriveAsTheHostDescribedThem) {
  ASSERT_TRUE(Goods(Table(
      Record(kGood) +
      Record(
          u"PLU=\" 18 \" Code=\"2\" EANData=\"0012345\" Name=\"Хлеб\" GroupCode=\"9\" "
          u"Price=\"45.99\" SellByDate=\"3\" SellByTime=\"0\" PLUTare=\"15\" "
          u"IsWeightGoods=\"FALSE\" Description=\"мука||вода\" SpecMessage=\"Свежий\" F1=\"5\"") +
      u"<Other PLU=\"99\"/>")));
  json plu = Plu();
  ASSERT_EQ(plu.size(), 2u);
  EXPECT_EQ(plu[0]["plu"], 17);
  EXPECT_EQ(plu[0]["price"], 1250);
  EXPECT_EQ(plu[0]["weight_goods"], true);
  EXPECT_EQ(plu[0]["name"],
            json::parse(R"([{"font":3,"text":"Сыр"},{"font":3,"text":"Российский"}])"));
  EXPECT_EQ(plu[0]["sell_by_time"], 30);
  EXPECT_EQ(plu[1]["plu"], 18);
  EXPECT_EQ(plu[1]["price"], 4599);
  EXPECT_EQ(plu[1]["weight_goods"], false);
  EXPECT_EQ(plu[1]["tare"], 15);
  EXPECT_EQ(plu[1]["ean"], "00123450000002");
  EXPECT_EQ(plu[1]["name"][0]["font"], 5);
  EXPECT_EQ(plu[1]["ingredients"].size(), 2u);
  EXPECT_EQ(plu[1]["spec_message"][0], json::parse(R"({"font":1,"text":"Свежий"})"));
}

TEST_F(UploadTest, EachRecordIsCheckedBeforeItIsSent) {
  struct Case {
    std::u16string attrs;
    std::string message;
  };
  const auto without = [](const char16_t* a) { return Good({{a, std::nullopt}}); };
  const auto with = [](const char16_t* a, std::u16string v) { return Good({{a, std::move(v)}}); };
  const Case cases[] = {
      {u"EANData=\"240123\"",
       "Длина данных штрихкода меньше 7 символов (запись 1, строка 1: EANData=\"240123\")"},
      {with(u"EANData", u"240123"),
       "Длина данных штрихкода меньше 7 символов (запись 1, строка 1, PLU 17: EANData=\"240123\")"},
      {without(u"PLU"), "Некорректный номер товара (запись 1, строка 1: PLU отсутствует)"},
      {with(u"PLU", u"-999999"), "Некорректный номер товара (запись 1, строка 1: PLU=\"-999999\")"},
      {with(u"PLU", u"100000000"),
       "Некорректный номер товара (запись 1, строка 1: PLU=\"100000000\")"},
      {without(u"Code"), "Некорректный код товара (запись 1, строка 1, PLU 17: Code отсутствует)"},
      {without(u"GroupCode"),
       "Некорректный код группы товара (запись 1, строка 1, PLU 17: GroupCode отсутствует)"},
      {with(u"GroupCode", u"10000"),
       "Некорректный код группы товара (запись 1, строка 1, PLU 17: GroupCode=\"10000\")"},
      {without(u"Price"), "Некорректная цена (запись 1, строка 1, PLU 17: Price отсутствует)"},
      {with(u"Price", u""), "Некорректная цена (запись 1, строка 1, PLU 17: Price=\"\")"},
      {with(u"Price", u"дорого"),
       "Некорректная цена (запись 1, строка 1, PLU 17: Price=\"дорого\")"},
      {with(u"Price", u"1000000.00"),
       "Некорректная цена (запись 1, строка 1, PLU 17: Price=\"1000000.00\")"},
      {with(u"Price", u"-1"), "Некорректная цена (запись 1, строка 1, PLU 17: Price=\"-1\")"},
      {without(u"SellByDate"),
       "Некорректный срок продажи в днях (запись 1, строка 1, PLU 17: SellByDate отсутствует)"},
      {without(u"SellByTime"),
       "Некорректный срок продажи в часах и минутах (запись 1, строка 1, "
       "PLU 17: SellByTime отсутствует)"},
      {without(u"PLUTare"),
       "Некорректный вес тары (запись 1, строка 1, PLU 17: PLUTare отсутствует)"},
      {with(u"PLUTare", u"-5"),
       "Некорректный вес тары (запись 1, строка 1, PLU 17: PLUTare=\"-5\")"},
      {with(u"UsedByDate", u"10000"),
       "Некорректное значение атрибута UsedByDate: 10000 (запись 1, "
       "строка 1, PLU 17: UsedByDate=\"10000\")"},
      {with(u"PackedTime", u"-1"),
       "Некорректное значение атрибута PackedTime: -1 (запись 1, "
       "строка 1, PLU 17: PackedTime=\"-1\")"},
      {with(u"EANData", u"24A1234"),
       "'24A12340000001' is not a valid integer value (запись 1, "
       "строка 1, PLU 17: EANData=\"24A1234\")"},
      {with(u"Name", std::u16string(256, u'я')),
       // A long value is shown by its first 40 characters.
       "Строка 1 текста \"Наименование\" длиннее 255 байт (запись 1, строка 1, PLU 17: Name=\"" +
           ToUtf8(std::u16string(40, u'я')) + "…\")"},
  };
  for (const auto& c : cases) {
    std::size_t before = Sent();
    EXPECT_FALSE(Goods(Table(Record(c.attrs)))) << c.message;
    EXPECT_EQ(ErrorUtf8(), c.message);
    EXPECT_EQ(Sent(), before) << c.message << ": nothing of a failing record is sent";
  }
  EXPECT_TRUE(Plu().empty());
}

// A document with a bad record anywhere sends nothing, not even a connection is opened, and the
// scale keeps what it had; the text says which record, on which line, and what is wrong with it.
TEST_F(UploadTest, ADocumentWithABadRecordAnywhereSendsNothing) {
  ASSERT_TRUE(Goods(Table(Record(Good({{u"PLU", u"900"}})))));
  const std::u16string long_name(300, u'ж');
  const std::string shown_name = ToUtf8(std::u16string(40, u'ж'));
  struct Field {
    const char16_t* attr;
    std::u16string value;
    std::string message;
    std::string shown;
  };
  const Field fields[] = {
      {u"Price", u"12.5a", "Некорректная цена", "Price=\"12.5a\""},
      {u"EANData", u"24012", "Длина данных штрихкода меньше 7 символов", "EANData=\"24012\""},
      {u"EANData", u"24x0123", "'24x01230000001' is not a valid integer value",
       "EANData=\"24x0123\""},
      {u"PLUTare", u"10000", "Некорректный вес тары", "PLUTare=\"10000\""},
      {u"SellByDate", u"1e3", "Некорректный срок продажи в днях", "SellByDate=\"1e3\""},
      {u"PackedDate", u"10000", "Некорректное значение атрибута PackedDate: 10000",
       "PackedDate=\"10000\""},
      {u"Name", long_name, "Строка 1 текста \"Наименование\" длиннее 255 байт",
       "Name=\"" + shown_name + "…\""},
  };
  constexpr int kRecords = 5;
  for (int bad : {1, 3, kRecords}) {
    for (const Field& f : fields) {
      std::u16string records;
      for (int plu = 1; plu <= kRecords; ++plu) {
        std::u16string attrs = Good({{u"PLU", IntToText16(plu)}});
        if (plu == bad) attrs = Good({{u"PLU", IntToText16(plu)}, {f.attr, f.value}});
        records += u"\n  " + Record(attrs);
      }
      const std::size_t sent = Sent(), connections = Connections();
      EXPECT_FALSE(Goods(Table(records + u"\n")));
      // Record k is on line k + 1: the document starts with "<Table>" on a line of its own.
      const std::string where = " (запись " + std::to_string(bad) + ", строка " +
                                std::to_string(bad + 1) + ", PLU " + std::to_string(bad) + ": " +
                                f.shown + ")";
      EXPECT_EQ(ErrorUtf8(), f.message + where);
      EXPECT_EQ(Sent(), sent) << f.message << where;
      EXPECT_EQ(Connections(), connections) << "not even a connection is opened";
    }
  }
  ASSERT_EQ(Plu().size(), 1u) << "the scale keeps what it had";
  EXPECT_EQ(Plu()[0]["plu"], 900);
}

TEST_F(UploadTest, ReadingRulesForPricesFlagsAndFonts) {
  ASSERT_TRUE(Goods(Table(
      Record(
          Good({{u"PLU", u"1"}, {u"Price", u"12.50"}, {u"IsWeightGoods", u"yes"}, {u"F1", u"3"}})) +
      Record(Good({{u"PLU", u"2"},
                   {u"Name", u"А||Б"},
                   {u"Price", u"0,015"},
                   {u"IsWeightGoods", u"0"},
                   {u"F1", u"1"},
                   {u"UsedByDate", u"abc"}})) +
      u"<record " + Good({{u"PLU", u"3"}, {u"Name", std::nullopt}, {u"IsWeightGoods", u"False"}}) +
      u"/>")));
  json plu = Plu();
  ASSERT_EQ(plu.size(), 3u);
  EXPECT_EQ(plu[0]["price"], 1250);
  EXPECT_EQ(plu[0]["weight_goods"], true);
  EXPECT_EQ(plu[1]["price"], 2);  // 1.5 hundredths to the even neighbour
  EXPECT_EQ(plu[1]["weight_goods"], true);
  EXPECT_EQ(plu[1]["name"], json::parse(R"([{"font":1,"text":"А"},{"font":3,"text":"Б"}])"));
  EXPECT_EQ(plu[1]["used_by_date"], 0);
  EXPECT_EQ(plu[2]["weight_goods"], false);
  EXPECT_EQ(plu[2]["name"], json::array());
}

TEST_F(UploadTest, TheFirstFailingRecordIsTheOneReported) {
  EXPECT_FALSE(Goods(Table(Record(kGood) + Record(Good({{u"PLU", u"18"}, {u"Price", u"x"}})) +
                           Record(Good({{u"PLU", u"19"}, {u"PLUTare", u"x"}})))));
  EXPECT_EQ(ErrorUtf8(), "Некорректная цена (запись 2, строка 1, PLU 18: Price=\"x\")");
  EXPECT_TRUE(Plu().empty());
}

TEST_F(UploadTest, ARecordIsJudgedBeforeTheNextIsSentOrReported) {
  struct Case {
    const char* what;
    long refused_plu;     // the scale refuses this record; 0: none
    int bad_check;        // this record (1-based) fails its price check; 0: none
    std::string message;  // what the host hears
    std::size_t sent;     // frames the scale received
  };
  const std::string at = " (" + Address() + "; записано ";
  const Case cases[] = {
      {"a check failure anywhere comes before any exchange", 1, 2,
       "Некорректная цена (запись 2, строка 1, PLU 2: Price=\"x\")", 0},
      {"a check failure of a later record: nothing is sent", 0, 3,
       "Некорректная цена (запись 3, строка 1, PLU 3: Price=\"x\")", 0},
      {"a refusal stops the upload before the next record goes out", 2, 0,
       "Ошибка записи в таблицу 25, Plu = 2; Name = Сыр||Российский" + at + "1 из 4)", 2},
      {"the refusal of the last record is heard", 4, 0,
       "Ошибка записи в таблицу 25, Plu = 4; Name = Сыр||Российский" + at + "3 из 4)", 4},
  };
  for (const auto& c : cases) {
    scale_->Clear();
    emulator::Faults f;
    if (c.refused_plu) f.rules.push_back({0xF1, 0x25, c.refused_plu, 0x15});
    scale_->SetFaults(f);
    std::u16string records;
    for (int i = 1; i <= 4; ++i) {
      records +=
          Record(Good({{u"PLU", IntToText16(i)}, {u"Price", i == c.bad_check ? u"x" : u"1,00"}}));
    }
    EXPECT_FALSE(Goods(Table(records))) << c.what;
    EXPECT_EQ(ErrorUtf8(), c.message) << c.what;
    EXPECT_EQ(Sent(), c.sent) << c.what;
    std::size_t stored = c.sent == 0 ? 0 : c.sent - 1;
    EXPECT_EQ(Plu().size(), stored) << c.what;
  }
}

TEST_F(UploadTest, GroupDocumentsAreWholeAndTheirRefusalsNameTheGroup) {
  emulator::Faults f;
  f.rules.push_back({0xF1, 0x23, 5, 0x15});
  scale_->SetFaults(f);
  EXPECT_FALSE(Call(u"UploadGroups",
                    {Table(Record(u"Code=\"5\" Name=\"Мясо\"") + Record(u"Name=\"без кода\""))}));
  EXPECT_EQ(ErrorUtf8(), "Некорректный номер группы (запись 2, строка 1: Code отсутствует)");
  EXPECT_EQ(Sent(), 0u);
  EXPECT_FALSE(Call(u"UploadGroups", {Table(Record(u"Code=\"4\" Name=\"Хлеб\"") +
                                            Record(u"Code=\"5\" Name=\"Мясо\""))}));
  EXPECT_EQ(ErrorUtf8(), "Ошибка записи в таблицу 23, Code = 5; Name = Мясо (" + Address() +
                             "; записано 1 из 2)");
  EXPECT_EQ(Sent(), 2u);
}

TEST_F(UploadTest, ShortUploadsLeaveTheStatusLineAlone) {
  ASSERT_TRUE(Goods(ManyGoods(20)));
  ASSERT_TRUE(Call(u"UploadGroups", {Table(Record(u"Code=\"1\""))}));
  EXPECT_TRUE(StatusCalls().empty());
}

TEST_F(UploadTest, LongUploadsShowProgressAndResetTheStatusLine) {
  SlowScale(0x25);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Goods(ManyGoods(250)));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::vector<std::string> calls = StatusCalls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls.back(), "ResetStatusLine");
  long last = 0;
  for (std::size_t i = 0; i + 1 < calls.size(); ++i) {
    long shown = ShownCount(calls[i], "товаров", "250");
    EXPECT_GT(shown, last) << calls[i];
    EXPECT_LE(shown, 250) << calls[i];
    last = shown;
  }
  // Nothing in the first half second, then at most four a second.
  EXPECT_LE(static_cast<double>(calls.size() - 1), (seconds - 0.5) * 4 + 1) << seconds << " s";
}

TEST_F(UploadTest, TheStatusLineIsResetWhenAnUploadFails) {
  SlowScale(0x25, {{0xF1, 0x25, 200, 0x15}});
  EXPECT_FALSE(Goods(ManyGoods(250)));
  EXPECT_EQ(ErrorUtf8(), "Ошибка записи в таблицу 25, Plu = 200; Name = Сыр||Российский (" +
                             Address() + "; записано 199 из 250)");
  std::vector<std::string> calls = StatusCalls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_GT(ShownCount(calls.front(), "товаров", "250"), 0) << calls.front();
  EXPECT_LT(ShownCount(calls[calls.size() - 2], "товаров", "250"), 200);
  EXPECT_EQ(calls.back(), "ResetStatusLine");
}

// Host callbacks must not throw, but a careless host's may. The library outlives it: the
// exception stops at its edge and counts as the callback failing (no memory, a status line or an
// error report not shown), the call answers as it would without the callback, nothing leaks, and
// the component goes on working.
TEST_F(UploadTest, AHostCallbackThatThrowsCountsAsOneThatFailed) {
#if defined(_WIN32) && !defined(_WIN64)
  GTEST_SKIP() << "32-bit Windows unwinds with DWARF tables each module registers with its own "
                  "copy of the unwinder: a host's exception ends at the DLL's first frame, and "
                  "the host's runtime terminates (README, \"Install\")";
#endif
  [[maybe_unused]] const int uncaught = std::uncaught_exceptions();
  auto host_fault = [] { throw std::runtime_error("the host's callback failed"); };
  auto throw_on = [&](std::string prefix) {
    d_->connection().echo = [host_fault, prefix](const std::string& line) {
      if (line.rfind(prefix, 0) == 0) host_fault();
    };
  };
  auto long_upload = [&] {
    SlowScale(0x25);
    d_->connection().calls.clear();
    EXPECT_TRUE(Goods(ManyGoods(250))) << ErrorUtf8();
    EXPECT_EQ(Plu().size(), 250u);
    EXPECT_GE(StatusCalls().size(), 2u) << "the status line was not tried";
    scale_->SetFaults({});
  };
  {
    SCOPED_TRACE("SetStatusLine: the long upload goes on without its progress");
    throw_on("status: ");
    long_upload();
    d_->connection().echo = nullptr;
  }
  {
    SCOPED_TRACE("FreeMemory of the status line's text (after freeing it): the same");
    bool shown = false;  // the next free is the library's, of the text just shown
    d_->connection().echo = [&shown](const std::string& line) {
      shown = line.rfind("status: ", 0) == 0;
    };
    d_->memory().after_free = [&shown, host_fault] {
      if (std::exchange(shown, false)) host_fault();
    };
    long_upload();
    d_->memory().after_free = nullptr;
    d_->connection().echo = nullptr;
  }
  {
    SCOPED_TRACE("AddError: a call that fails answers false all the same");
    throw_on("AddError(");
    std::size_t reports = d_->connection().errors.size();
    EXPECT_FALSE(d_->CallByNumber(9999, {}).ok);
    EXPECT_EQ(d_->connection().errors.size(), reports + 1) << "AddError was not tried";
    d_->connection().echo = nullptr;
  }
  {
    SCOPED_TRACE("AllocMemory: without memory for its answer the call answers false");
    std::size_t allocations = d_->memory().allocations();
    d_->memory().before_alloc = host_fault;
    // A number where the text comes back: the host itself allocates nothing for the call.
    EXPECT_FALSE(d_->Call(u"GetDescription", {std::int32_t{0}}).ok);
    d_->memory().before_alloc = nullptr;
    EXPECT_EQ(d_->memory().allocations(), allocations);
  }
#if !defined(VELQUORA_PRIVATE_CXX_RUNTIME)
  // This build's library shares the test's C++ runtime, so the exceptions it caught are over. A
  // library with a runtime of its own (the Windows DLL, the Linux release) leaves each one counted
  // by the host's runtime, which it cannot undo (README, "Install").
  EXPECT_EQ(std::uncaught_exceptions(), uncaught);
#endif
  EXPECT_TRUE(Goods(ManyGoods(2))) << ErrorUtf8();
  EXPECT_FALSE(Out(u"GetDescription").empty());
}

TEST_F(UploadTest, GroupAndDataUploadsShowTheirOwnProgress) {
  SlowScale(0x23);
  std::u16string groups;
  for (int i = 1; i <= 200; ++i) groups += Record(u"Code=\"" + IntToText16(i) + u"\"");
  ASSERT_TRUE(Call(u"UploadGroups", {Table(groups)}));
  std::vector<std::string> calls = StatusCalls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_GT(ShownCount(calls.front(), "групп", "200"), 0) << calls.front();
  EXPECT_EQ(calls.back(), "ResetStatusLine");

  d_->connection().calls.clear();
  SlowScale(0x37);
  std::u16string data;
  for (int i = 0; i < 200; ++i) data += u"00000007001900" + std::u16string(36, u'A');
  ASSERT_TRUE(Call(u"UploadData", {std::u16string(u"F37"), data}));
  calls = StatusCalls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_GT(ShownCount(calls.front(), "данных", "200"), 0) << calls.front();
  EXPECT_EQ(calls.back(), "ResetStatusLine");
}

TEST_F(UploadTest, DocumentShapes) {
  std::size_t connections = Connections();
  EXPECT_TRUE(Goods(u"<Table><!-- nothing --></Table>"));
  EXPECT_EQ(Connections(), connections + 1);
  EXPECT_TRUE(scale_->Frames().empty());
  EXPECT_FALSE(Goods(u"<table>" + Record(kGood) + u"</table>"));
  EXPECT_EQ(ErrorUtf8(), "Не найден корневой узел");
  EXPECT_FALSE(Goods(u"<table>" + Record(Good({{u"Price", u"12.5a"}})) + u"</table>"));
  EXPECT_EQ(ErrorUtf8(), "Не найден корневой узел") << "the root is judged before the records";
  EXPECT_FALSE(Goods(u"<Table><Record><PLU>17</PLU></Record></Table>"));
  EXPECT_EQ(ErrorUtf8(),
            "Длина данных штрихкода меньше 7 символов (запись 1, строка 1: EANData отсутствует)");
  connections = Connections();
  EXPECT_FALSE(Goods(u"<Table><Record"));
  EXPECT_EQ(Error().rfind(u"Ошибка разбора XML: ", 0), 0u);
  EXPECT_EQ(Connections(), connections)
      << "a document that does not parse never touches the network";
  EXPECT_TRUE(Goods(Table(Record(Good({{u"Description", u"соль\u0001 😀"}})))));
  EXPECT_EQ(Plu()[0]["ingredients"][0]["text"], "соль ");
}

TEST_F(UploadTest, DocumentsThatAreNotWellFormedSendNothing) {
  const std::u16string good = Record(kGood);
  const std::u16string cases[] = {
      Table(good) + Table(good),                                     // two top-level elements
      Table(good) + u"хвост",                                        // text after it
      Table(u"<Record PLU=\"5\" " + std::u16string(kGood) + u"/>"),  // a duplicate attribute
      Table(Record(Good({{u"Name", u"&foo;"}}))),                    // an undefined entity
      Table(Record(Good({{u"Name", u"Сыр & масло"}}))),              // a bare &
      Table(Record(Good({{u"Name", u"a<b"}}))),                      // < inside a value
      Table(Record(Good({{u"Name", u"&#1;"}}))),                     // a reference to U+0001
      u"<Table><!-- a -- b -->" + good + u"</Table>",                // -- inside a comment
      // a bad record before the fault: the text is read to its end before records are judged
      Table(Record(Good({{u"Price", u"12.5a"}})) + Record(Good({{u"Name", u"&foo;"}}))),
  };
  std::size_t connections = Connections();
  for (const std::u16string& text : cases) {
    EXPECT_FALSE(Goods(text)) << ToUtf8(text);
    EXPECT_EQ(Error().rfind(u"Ошибка разбора XML: ", 0), 0u) << ErrorUtf8();
    EXPECT_NE(Error().find(u" (строка 1, столбец "), std::u16string::npos) << ErrorUtf8();
  }
  EXPECT_FALSE(Call(u"UploadGroups", {Table(Record(u"Code=\"5\" Name=\"A & B\""))}));
  EXPECT_EQ(Error().rfind(u"Ошибка разбора XML: ", 0), 0u);
  EXPECT_TRUE(scale_->Frames().empty());
  EXPECT_EQ(Connections(), connections) << "nothing is sent, not even a connection is opened";

  EXPECT_TRUE(
      Goods(u"<!DOCTYPE Table [<!ENTITY x \"Сыр\">]>" + Table(Record(Good({{u"Name", u"&x;"}})))));
  ASSERT_EQ(Plu().size(), 1u);
  EXPECT_EQ(Plu()[0]["name"][0]["text"], "Сыр");
}

TEST_F(UploadTest, RefusalsAndTransportFailuresReachTheHost) {
  emulator::Faults f;
  f.rules.push_back({0xF1, 0x25, -1, 0x15});
  scale_->SetFaults(f);
  EXPECT_FALSE(Goods(Table(Record(kGood))));
  EXPECT_EQ(ErrorUtf8(), "Ошибка записи в таблицу 25, Plu = 17; Name = Сыр||Российский (" +
                             Address() + "; записано 0 из 1)");
  const std::string address = Address();
  scale_->Stop();
  EXPECT_FALSE(Goods(Table(Record(kGood))));
  EXPECT_EQ(ErrorUtf8(), "Ошибка при установлении подключения (" + address + ")");
}

TEST_F(UploadTest, AnswersOutOfStepNeverPassForSuccess) {
  std::u16string records;
  for (int plu = 1; plu <= 300; ++plu)
    records += Record(Good({{u"PLU", ToUtf16(std::to_string(plu))}}));
  struct Case {
    int copies;
    std::string noise;
    std::string message;
  } cases[] = {
      // A scale that answers every frame twice and refuses record 151.
      {2, "", "Ошибка протокола обмена: лишние байты после ответа весов: 06"},
      {1, "\x13", "Ошибка протокола обмена: лишние байты после ответа весов: 13"},
  };
  for (Case& c : cases) c.message += " (" + Address() + "; записано 0 из 300)";
  for (const Case& c : cases) {
    emulator::Faults f;
    f.answer_copies = c.copies;
    f.noise = c.noise;
    f.rules.push_back({0xF1, 0x25, 151, 0x15});
    scale_->SetFaults(f);
    scale_->Clear();
    EXPECT_FALSE(Goods(Table(records)));
    EXPECT_EQ(ErrorUtf8(), c.message);
    EXPECT_EQ(Sent(), 1u) << "the first frame's answer was out of step: nothing more goes out";
  }
}

// A scale that answers every frame twice, the second copy a few milliseconds later, and refuses
// record 151. No byte is waiting when the driver looks, so each late copy is taken for the answer
// of the next frame and the driver runs ahead of the scale; the answers it has not read are still
// coming after its last frame, and that is what fails the call.
TEST_F(UploadTest, LateAnswerCopiesNeverPassForSuccess) {
  emulator::Faults f;
  f.answer_copies = 2;
  f.copy_gap_ms = 3;
  f.rules.push_back({0xF1, 0x25, 151, 0x15});
  scale_->SetFaults(f);
  EXPECT_FALSE(Goods(ManyGoods(300))) << "the scale saw " << Sent() << " frames";

  // The same scale taking raw records, and accepting every one: still out of step, so no success.
  f.rules.clear();
  scale_->SetFaults(f);
  std::u16string data;
  for (int i = 0; i < 50; ++i) data += u"00000007001900" + std::u16string(36, u'A');
  EXPECT_FALSE(Call(u"UploadData", {std::u16string(u"F37"), data}));
  EXPECT_EQ(ErrorUtf8().rfind("Ошибка протокола обмена: лишние байты после ответа весов: 06", 0),
            0u)
      << ErrorUtf8();

  // An honest scale leaves the line quiet after its last answer.
  scale_->SetFaults({});
  EXPECT_TRUE(Call(u"UploadData", {std::u16string(u"F37"), data})) << ErrorUtf8();
  EXPECT_TRUE(Goods(ManyGoods(3))) << ErrorUtf8();
}

// The same late copies from a scale that takes 30 ms to store a record: the answers the driver
// has not read come 30 ms apart, longer than a fixed quiet wait. The scale refuses the last record
// and, when the driver has sent it, has stored only about half of them.
TEST_F(UploadTest, LateAnswerCopiesFromASlowScaleNeverPassForSuccess) {
  emulator::Faults f;
  f.answer_copies = 2;
  f.copy_gap_ms = 3;
  emulator::AnswerRule refuse_last{0xF1, 0x25, 10, 0x15};
  refuse_last.delay_ms = 30;
  emulator::AnswerRule slow;
  slow.delay_ms = 30;
  f.rules = {refuse_last, slow};
  scale_->SetFaults(f);
  EXPECT_FALSE(Goods(ManyGoods(10))) << "the scale saw " << Sent() << " frames";
  EXPECT_EQ(ErrorUtf8().rfind("Ошибка протокола обмена: лишние байты после ответа весов: 06", 0),
            0u)
      << ErrorUtf8();

  // An honest scale as slow as that still passes.
  f.answer_copies = 1;
  f.copy_gap_ms = 0;
  f.rules = {slow};
  scale_->SetFaults(f);
  EXPECT_TRUE(Goods(ManyGoods(10))) << ErrorUtf8();
  EXPECT_EQ(Plu().size(), 10u);
}

TEST_F(UploadTest, DeleteAndClear) {
  ASSERT_TRUE(Goods(Table(Record(kGood))));
  ASSERT_TRUE(Call(u"UploadGroups", {Table(Record(u"Code=\"5\" Name=\"Мясо\""))}));
  EXPECT_TRUE(Call(u"DeleteGood", {std::int32_t{17}}));
  EXPECT_TRUE(Call(u"DeleteGood", {std::u16string(u"17")}));  // 0xE2: already gone
  EXPECT_TRUE(Call(u"DeleteGroup", {std::int32_t{5}}));       // 0x06 is success
  EXPECT_TRUE(Call(u"DeleteGroup", {std::int32_t{5}}));
  std::size_t before = Sent();
  EXPECT_FALSE(Call(u"DeleteGood", {std::int32_t{100000000}}));
  EXPECT_EQ(ErrorUtf8(), "Некорректный номер товара: 100000000");
  EXPECT_FALSE(Call(u"DeleteGroup", {std::int32_t{-1}}));
  EXPECT_EQ(ErrorUtf8(), "Некорректный номер группы: -1");
  EXPECT_FALSE(Call(u"DeleteGood", {std::u16string(u"abc")}));
  EXPECT_EQ(ErrorUtf8(), "Не удалось преобразовать значение \"abc\" к типу Integer");
  EXPECT_EQ(Sent(), before);

  ASSERT_TRUE(Goods(Table(Record(kGood))));
  EXPECT_TRUE(Call(u"ClearGoods", {std::u16string()}));
  EXPECT_TRUE(Plu().empty());
  EXPECT_TRUE(Call(u"ClearGroups"));
  emulator::Faults f;
  f.rules.push_back({0xF2, 0x23, -1, 0x15});
  scale_->SetFaults(f);
  EXPECT_FALSE(Call(u"ClearGroups"));
  EXPECT_EQ(ErrorUtf8(), "Ошибка очистки таблицы 23 (" + Address() + ")");
  f.rules = {{0xF3, 0x25, -1, 0x15}, {0xF3, 0x23, -1, 0x15}};
  scale_->SetFaults(f);
  EXPECT_FALSE(Call(u"DeleteGood", {std::int32_t{17}}));
  EXPECT_EQ(ErrorUtf8(), "Ошибка удаления из таблицы 25, Plu = 17 (" + Address() + ")");
  EXPECT_FALSE(Call(u"DeleteGroup", {std::int32_t{5}}));
  EXPECT_EQ(ErrorUtf8(), "Ошибка удаления из таблицы 23, Code = 5 (" + Address() + ")");
}

TEST_F(UploadTest, GroupsAndShops) {
  ASSERT_TRUE(
      Call(u"UploadGroups",
           {Table(Record(u"Code=\"1\" Name=\"Сыры\"") + Record(u"Code=\"2\" ImageNumber=\"\"") +
                  Record(u"Code=\"3\" ImageNumber=\"7\" Name=\"Хлеб\""))}));
  json groups = scale_->Dump()["main_groups"];
  ASSERT_EQ(groups.size(), 3u);
  EXPECT_EQ(groups[2], json::parse(R"({"group":3,"name":"Хлеб"})"));
  EXPECT_FALSE(Call(u"UploadGroups", {Table(Record(u"Code=\"4\" ImageNumber=\"семь\""))}));
  EXPECT_EQ(ErrorUtf8(),
            "Некорректный номер картинки (запись 1, строка 1, код 4: ImageNumber=\"семь\")");
  EXPECT_FALSE(Call(u"UploadGroups", {Table(Record(u"Name=\"x\""))}));
  EXPECT_EQ(ErrorUtf8(), "Некорректный номер группы (запись 1, строка 1: Code отсутствует)");

  Set(u"CompanyFont", std::int32_t{4});
  ASSERT_TRUE(Open());
  ASSERT_TRUE(Call(u"UploadShops", {Table(Record(u"Code=\"1\" Name=\"Гастроном||ул. Мира, 1\""))}));
  json shop = scale_->Dump()["shops"][0];
  EXPECT_EQ(shop["label_format"], 17);
  EXPECT_EQ(shop["name"],
            json::parse(R"([{"font":4,"text":"Гастроном"},{"font":4,"text":"ул. Мира, 1"}])"));
  EXPECT_FALSE(Call(u"UploadShops", {Table(Record(u"Name=\"x\""))}));
  EXPECT_EQ(ErrorUtf8(), "Некорректный номер магазина (запись 1, строка 1: Code отсутствует)");
}

TEST_F(UploadTest, RawDataIsCheckedWholeBeforeAnythingIsSent) {
  const std::u16string record25 = u"00000007001900" + std::u16string(36, u'A');  // 25 bytes
  ASSERT_TRUE(Call(u"UploadData", {std::u16string(u"f37xyz"), record25}));
  auto frames = scale_->Frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].size(), 27u);
  EXPECT_EQ(frames[0].substr(0, 2), "\xF1\x37");
  EXPECT_EQ(scale_->Records(0x37).count(7), 1u);

  ASSERT_TRUE(Call(u"UploadData", {std::u16string(u"D41"), std::u16string()}));
  EXPECT_EQ(scale_->Frames().back(), "\xF2\x41");

  std::size_t before = Sent();
  // A name without both table characters would put the record's first byte in the table's place.
  for (const char16_t* name : {u"X37", u"", u"F", u"d4"}) {
    EXPECT_FALSE(Call(u"UploadData", {std::u16string(name), record25}));
    EXPECT_EQ(ErrorUtf8(), "Некорректное имя файла");
  }
  // A record is named by its number and the character of the text it starts at.
  EXPECT_FALSE(Call(u"UploadData", {std::u16string(u"F37"), record25 + record25.substr(0, 30)}));
  EXPECT_EQ(ErrorUtf8(), "Некорректные входные данные (запись 2, символ 51)");
  EXPECT_FALSE(Call(u"UploadData", {std::u16string(u"F37"), record25 + u"00000008001900" +
                                                                std::u16string(34, u'A') + u"ZZ"}));
  EXPECT_EQ(ErrorUtf8(), "Некорректные входные данные (запись 2, символ 51)");
  EXPECT_FALSE(Call(u"UploadData", {std::u16string(u"FZZ"), record25}));
  EXPECT_EQ(ErrorUtf8(), "Некорректные входные данные");
  EXPECT_EQ(Sent(), before);

  emulator::Faults f;
  f.rules.push_back({0xF1, 0x41, -1, 0x15});
  scale_->SetFaults(f);
  EXPECT_FALSE(Call(u"UploadData", {std::u16string(u"F41"), record25}));
  EXPECT_EQ(ErrorUtf8(), "Ошибка записи в таблицу 41 (" + Address() + "; записано 0 из 1)");
}

}  // namespace
}  // namespace velquora::e2e
