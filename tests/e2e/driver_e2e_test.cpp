// The driver's identity, settings, connection and documents, as a host sees them.
#include <filesystem>
#include <fstream>
#include <iterator>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#endif

#include "e2e/e2e_fixture.h"
#include "support/log_tail.h"
#include "support/temp_dir.h"
#include "support/xml_tree.h"

namespace velquora::e2e {
host::AddinLibrary* DriverTest::lib_ = nullptr;

namespace {

test::XmlDoc Parse(const std::u16string& text) {
  return test::ParseXml(ToUtf8(text));
}

// Element by element and attribute by attribute, text included.
void ExpectSameTree(const test::XmlNode& a, const test::XmlNode& b, const std::string& path) {
  ASSERT_EQ(a.name, b.name) << path;
  auto trimmed = [](const std::string& t) {
    return t.find_first_not_of(" \t\r\n") == std::string::npos ? std::string() : t;
  };
  EXPECT_EQ(trimmed(a.text), trimmed(b.text)) << path;
  EXPECT_EQ(a.attributes, b.attributes) << path;
  ASSERT_EQ(a.children.size(), b.children.size()) << path;
  for (std::size_t i = 0; i < a.children.size(); ++i)
    ExpectSameTree(a.children[i], b.children[i], path + "/" + a.children[i].name);
}

TEST_F(DriverTest, PresentsItselfAsTheScaleDriver) {
  EXPECT_EQ(lib_->ClassNames(), u"w_velquora");
  const std::vector<std::pair<std::u16string, long>> scale_methods = {
      {u"UploadGoods", 3}, {u"UploadGroups", 1}, {u"UploadShops", 1}, {u"ClearGoods", 1},
      {u"ClearGroups", 0}, {u"DeleteGood", 1},   {u"DeleteGroup", 1}, {u"UploadData", 2}};
  ASSERT_EQ(d_->object()->GetNMethods(), 18);
  EXPECT_EQ(d_->MethodName(2, 1), u"GetLastError");
  EXPECT_EQ(d_->MethodName(9, 1), u"DoAdditionalAction");
  for (std::size_t i = 0; i < scale_methods.size(); ++i) {
    EXPECT_EQ(d_->MethodName(static_cast<long>(10 + i), 1), scale_methods[i].first);
    EXPECT_EQ(d_->object()->GetNParams(static_cast<long>(10 + i)), scale_methods[i].second);
  }
  EXPECT_EQ(d_->FindMethod(u"выгрузитьтовары"), 10);
  EXPECT_EQ(d_->FindMethod(u"UploadSystemSettings"), -1);

  const std::vector<std::tuple<std::u16string, std::u16string, Value>> settings = {
      {u"ЛогВключен", u"LogEnabled", false},
      {u"IPАдрес", u"IPAddress", std::u16string()},
      {u"IPПорт", u"IPPort", std::u16string(u"0")},
      {u"ШрифтНаименования", u"CommodityFont", std::u16string(u"0")},
      {u"ШрифтИнгридиентов", u"IngredientFont", std::u16string(u"0")},
      {u"ШрифтСообщений", u"SpecMessageFont", std::u16string(u"0")},
      {u"ШрифтМагазина", u"CompanyFont", std::u16string(u"0")},
      {u"НомерФорматаЭтикетки", u"LabelFormatNumber", std::u16string(u"17")},
      {u"ВестиЛогОбмена", u"ExtLogEnabled", std::u16string(u"false")}};
  Component fresh(*lib_, u"w_velquora");
  ASSERT_EQ(fresh.object()->GetNProps(), 10);
  for (std::size_t i = 0; i < settings.size(); ++i) {
    long n = static_cast<long>(i + 1);
    EXPECT_EQ(fresh.PropName(n, 0), std::get<0>(settings[i]));
    EXPECT_EQ(fresh.PropName(n, 1), std::get<1>(settings[i]));
    EXPECT_EQ(fresh.Property(std::get<1>(settings[i])), std::get<2>(settings[i]));
    EXPECT_TRUE(fresh.object()->IsPropWritable(n));
  }
}

TEST_F(DriverTest, DescriptionAndSettingsPage) {
  test::XmlDoc doc = Parse(Out(u"GetDescription"));
  EXPECT_EQ(doc.version, "1.0");
  ASSERT_EQ(doc.root.name, "DriverDescription");
  const test::XmlNode& d = doc.root;
  EXPECT_EQ(d.Attr("Name"), "w_velquora");
  EXPECT_EQ(d.Attr("Description"), "Драйвер сетевых весов с печатью этикеток (Native API)");
  EXPECT_EQ(d.Attr("EquipmentType"), "ВесыСПечатьюЭтикеток");
  EXPECT_EQ(d.Attr("IntegrationComponent"), "false");
  EXPECT_EQ(d.Attr("MainDriverInstalled"), "false");
  EXPECT_EQ(d.Attr("DriverVersion"), "1.2.3.43");
  EXPECT_EQ(d.Attr("IntegrationComponentVersion"), "1.2.3.43");
  EXPECT_EQ(d.Attr("LogIsEnabled"), "false");
  EXPECT_TRUE(std::filesystem::is_directory(d.Attr("LogPath")));

  Set(u"LogEnabled", true);
  ASSERT_TRUE(Open());
  EXPECT_EQ(Parse(Out(u"GetDescription")).root.Attr("LogIsEnabled"), "true");
  ASSERT_TRUE(Call(u"Close", {std::u16string()}));
  Set(u"LogEnabled", false);
  ASSERT_TRUE(Open());

  Set(u"CommodityFont", std::int32_t{2});  // values set never change the page
  test::XmlDoc page = Parse(Out(u"GetParameters"));
  std::ifstream in(VELQUORA_SOURCE_DIR "/resources/Parameters.xml", std::ios::binary);
  test::XmlDoc shipped = test::ParseXml(
      std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  ExpectSameTree(page.root, shipped.root, "Settings");
  EXPECT_EQ(page.root.Children("Page").size(), 2u);
}

TEST_F(DriverTest, OpenConnectsAndCopiesTheSettings) {
  EXPECT_FALSE(Call(u"UploadGroups", {std::u16string(u"<Table/>")}));
  EXPECT_EQ(ErrorUtf8(), "Устройство не включено");
  EXPECT_EQ(Connections(), 0u) << "nothing reaches the scale before Open";

  ASSERT_TRUE(Open());
  EXPECT_EQ(Connections(), 1u);
  EXPECT_TRUE(Call(u"UploadGroups", {std::u16string(u"<Table/>")}));
  EXPECT_EQ(Connections(), 2u) << "every operation reconnects";
  EXPECT_TRUE(Call(u"Close", {std::u16string()}));
  EXPECT_TRUE(Call(u"Close", {std::u16string()}));
}

TEST_F(DriverTest, DestroyingAnOpenDriverClosesItsConnection) {
  ASSERT_TRUE(Open());
  Connections();
  EXPECT_EQ(scale_->open_connections(), 1u);
  d_.reset();
  for (int i = 0; i < 40 && scale_->open_connections() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(scale_->open_connections(), 0u);
}

TEST_F(DriverTest, OpenWithoutAnAddressFailsButStaysEnabled) {
  Component fresh(*lib_, u"w_velquora");
  EXPECT_FALSE(Ok(fresh.Call(u"Open", {std::u16string()})));
  CallResult e = fresh.Call(u"GetLastError", {std::u16string()});
  EXPECT_EQ(e.result, Value(std::int32_t{1001}));
  EXPECT_EQ(e.args[0], Value(std::u16string(u"Синтаксическая ошибка в IP-адресе")));
  EXPECT_FALSE(Ok(fresh.Call(u"ClearGroups")));
  e = fresh.Call(u"GetLastError", {std::u16string()});
  EXPECT_EQ(e.args[0], Value(std::u16string(u"Синтаксическая ошибка в IP-адресе")))
      << "enabled: it tried to connect";

  Set(u"IPPort", std::u16string(u"не число"));
  EXPECT_FALSE(Open());
  EXPECT_EQ(ErrorUtf8(), "Не удалось преобразовать значение \"не число\" к типу Integer");
}

TEST_F(DriverTest, DeviceTestOpensOnlyWhenClosed) {
  CallResult r = d_->Call(u"DeviceTest", {std::u16string(), std::u16string(u"x")});
  ASSERT_TRUE(Ok(r));
  EXPECT_EQ(r.args[0], Value(std::u16string(u"Весы подключены")));
  EXPECT_EQ(r.args[1], Value(std::u16string()));
  EXPECT_FALSE(Call(u"ClearGroups"));
  EXPECT_EQ(ErrorUtf8(), "Устройство не включено");

  ASSERT_TRUE(Open());
  scale_->Stop();
  r = d_->Call(u"DeviceTest", {std::u16string(), std::u16string()});
  EXPECT_TRUE(Ok(r));
  EXPECT_EQ(r.args[0], Value(std::u16string(u"Весы подключены")));

  Component closed(*lib_, u"w_velquora");
  ASSERT_TRUE(Ok(
      closed.Call(u"SetParameter", {std::u16string(u"IPAddress"), std::u16string(u"127.0.0.1")})));
  ASSERT_TRUE(
      Ok(closed.Call(u"SetParameter", {std::u16string(u"IPPort"), std::int32_t{scale_->port()}})));
  EXPECT_FALSE(Ok(closed.Call(u"DeviceTest", {std::u16string(), std::u16string()})));
  CallResult e = closed.Call(u"GetLastError", {std::u16string()});
  EXPECT_EQ(e.args[0], Value(u"Ошибка при установлении подключения (127.0.0.1:" +
                             IntToText16(scale_->port()) + u")"));
}

TEST_F(DriverTest, AChangedAddressTakesEffectAtTheNextOperation) {
  ASSERT_TRUE(Open());
  Scale other;
  other.Start();
  Set(u"IPPort", std::int32_t{other.port()});
  ASSERT_TRUE(Call(u"ClearGoods", {std::u16string()}));
  EXPECT_EQ(other.Frames().size(), 1u);
  EXPECT_TRUE(scale_->Frames().empty());
}

TEST_F(DriverTest, LogFilesFollowTheAddressAndHoldOneErrorPerFailure) {
  StartScale("127.0.0.23");
  Set(u"LogEnabled", true);
  Set(u"ExtLogEnabled", true);
  ASSERT_TRUE(Open());
  std::string folder = Parse(Out(u"GetDescription")).root.Attr("LogPath");
  std::string file;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    if (e.path().filename().string().rfind("127_0_0_23_", 0) == 0) file = e.path().string();
  }
  ASSERT_FALSE(file.empty());
  test::LogTail tail(file);
  EXPECT_TRUE(Call(u"ClearGoods", {std::u16string()}));
  EXPECT_FALSE(Call(u"DeleteGood", {std::u16string(u"abc")}));
  Set(u"LogEnabled", false);
  ASSERT_TRUE(Open());  // switches logging off: the footer closes this file's block
  auto lines = tail.Lines();
  auto count = [&](const std::string& what) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(what) != std::string::npos; });
  };
  EXPECT_EQ(count("\tDEBUG\t> ClearGoods: \tParams: []"), 1);
  EXPECT_EQ(count("\tDEBUG\tДанные обмена ->: \tF2 25"), 1);
  EXPECT_EQ(count("\tDEBUG\tДанные обмена <-: \t06"), 1);
  EXPECT_EQ(count("\tERROR\tException: \t"), 1);
  EXPECT_EQ(lines.back(), "");
  EXPECT_EQ(lines[lines.size() - 2], "============Stop log===============");
}

TEST_F(DriverTest, AnAddressCannotSteerTheLogOutOfItsFolder) {
  Set(u"LogEnabled", true);
  Set(u"IPAddress", std::u16string(u"../../tmp/evil.10"));
  EXPECT_FALSE(Open());
  std::string folder = Parse(Out(u"GetDescription")).root.Attr("LogPath");
  bool found = false;
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    found |= e.path().filename().string().rfind("____tmpevil_10_", 0) == 0;
  }
  EXPECT_TRUE(found);
  Set(u"LogEnabled", false);
  Set(u"IPAddress", std::u16string(u"127.0.0.1"));
  EXPECT_TRUE(Open());
}

#if !defined(_WIN32)  // a Windows session always has its window station
TEST_F(DriverTest, WithoutADisplayTheWindowsFailAtOnce) {
  std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  for (const char16_t* action : {u"ViewLog", u"ShowHelp"}) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Call(u"DoAdditionalAction", {std::u16string(action)}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(ErrorUtf8(),
              "Нет графического сеанса (не заданы DISPLAY и WAYLAND_DISPLAY): окно просмотра "
              "показать нельзя");
  }
  if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
}

// The viewer itself fails (a display is named but no server answers there): the call fails with
// the viewer's words, however the host treats its child processes.
TEST_F(DriverTest, AFailingViewerFailsTheCallWhateverTheHostDoesWithItsChildren) {
  std::string display = getenv("DISPLAY") ? getenv("DISPLAY") : "";
  setenv("DISPLAY", ":7391", 1);
  unsetenv("WAYLAND_DISPLAY");
  struct sigaction saved {};
  sigaction(SIGCHLD, nullptr, &saved);
  std::atomic<bool> stop{false};
  std::thread reaper;
  for (bool ignored : {true, false}) {
    SCOPED_TRACE(ignored ? "SIGCHLD ignored" : "a reaper thread");
    if (ignored) {
      signal(SIGCHLD, SIG_IGN);
    } else {
      sigaction(SIGCHLD, &saved, nullptr);
      reaper = std::thread([&] {
        while (!stop) {
          if (waitpid(-1, nullptr, 0) < 0) usleep(200);
        }
      });
    }
    for (int i = 0; i < 5; ++i) {
      EXPECT_FALSE(Call(u"DoAdditionalAction", {std::u16string(u"ViewLog")}));
      EXPECT_NE(ErrorUtf8().find("графический сеанс недоступен"), std::string::npos) << ErrorUtf8();
    }
  }
  stop = true;
  if (fork() == 0) _exit(0);  // wakes the reaper if it waits for a child
  reaper.join();
  sigaction(SIGCHLD, &saved, nullptr);
  if (display.empty())
    unsetenv("DISPLAY");
  else
    setenv("DISPLAY", display.c_str(), 1);
}
#endif

}  // namespace
}  // namespace velquora::e2e
