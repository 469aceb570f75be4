// The equipment framework through the host's eyes: test drivers of the test add-in library.
#include <gtest/gtest.h>

#include <filesystem>

#include "addin_library.h"
#include "common/text.h"
#include "support/log_tail.h"
#include "support/temp_dir.h"
#include "support/test_addin_library.h"
#include "support/test_helpers.h"
#include "support/xml_tree.h"

namespace velquora::host {
namespace {

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The actions must fail fast here, never open real windows on a developer's desktop.
    test::UnsetEnv("DISPLAY");
    test::UnsetEnv("WAYLAND_DISPLAY");
    d_ = std::make_unique<Component>(*lib_, u"TestDriver");
  }
  void TearDown() override { EXPECT_TRUE(d_->memory().faults().empty()); }

  bool Ok(const CallResult& r) { return r.ok && r.result == Value(true); }
  std::pair<std::int32_t, std::u16string> LastError(Component& c) {
    CallResult r = c.Call(u"GetLastError", {std::u16string()});
    return {std::get<std::int32_t>(r.result), std::get<std::u16string>(r.args[0])};
  }
  std::u16string Out(Component& c, const std::u16string& method) {
    CallResult r = c.Call(method, {std::u16string()});
    EXPECT_TRUE(Ok(r)) << ToUtf8(method);
    return std::get<std::u16string>(r.args[0]);
  }
  static test::XmlDoc Parse(const std::u16string& text) { return test::ParseXml(ToUtf8(text)); }

  AddinLibrary* lib_ = &test::TestAddin();
  std::unique_ptr<Component> d_;
};

TEST_F(FrameworkTest, CommonMethodsInTheirOrderThenTheDriversOwn) {
  const struct {
    const char16_t* ru;
    const char16_t* en;
    long params;
  } kCommon[] = {
      {u"ПолучитьРевизиюИнтерфейса", u"GetInterfaceRevision", 0},
      {u"ПолучитьОписание", u"GetDescription", 1},
      {u"ПолучитьОшибку", u"GetLastError", 1},
      {u"Подключить", u"Open", 1},
      {u"Отключить", u"Close", 1},
      {u"ПолучитьПараметры", u"GetParameters", 1},
      {u"УстановитьПараметр", u"SetParameter", 2},
      {u"ТестУстройства", u"DeviceTest", 2},
      {u"ПолучитьДополнительныеДействия", u"GetAdditionalActions", 1},
      {u"ВыполнитьДополнительноеДействие", u"DoAdditionalAction", 1},
  };
  for (long i = 0; i < 10; ++i) {
    EXPECT_EQ(d_->MethodName(i, 0), kCommon[i].ru);
    EXPECT_EQ(d_->MethodName(i, 1), kCommon[i].en);
    EXPECT_EQ(d_->object()->GetNParams(i), kCommon[i].params);
  }
  EXPECT_EQ(d_->MethodName(10, 1), u"ReadInt");
  EXPECT_EQ(d_->Call(u"GetInterfaceRevision").result, Value(std::int32_t{3002}));
}

TEST_F(FrameworkTest, LastErrorKeepsTheLastFailure) {
  EXPECT_EQ(LastError(*d_), std::make_pair(0, std::u16string()));
  EXPECT_FALSE(Ok(d_->Call(u"Check")));
  EXPECT_EQ(LastError(*d_), std::make_pair(1001, std::u16string(u"Устройство не включено")));
  EXPECT_TRUE(Ok(d_->Call(u"Open", {std::u16string()})));
  EXPECT_TRUE(Ok(d_->Call(u"Check")));
  EXPECT_EQ(LastError(*d_).second, u"Устройство не включено");
  EXPECT_FALSE(Ok(d_->Call(u"DoAdditionalAction", {std::u16string(u"Nothing")})));
  EXPECT_EQ(LastError(*d_), std::make_pair(1001, std::u16string(u"Action not found")));
  EXPECT_TRUE(Ok(d_->Call(u"Close", {std::u16string()})));
  EXPECT_FALSE(Ok(d_->Call(u"Check")));
}

TEST_F(FrameworkTest, ActionsAreFoundByNameInAnyCase) {
  for (const char16_t* name : {u"ViewLog", u"viewlog", u"ShowHelp"}) {
    EXPECT_FALSE(Ok(d_->Call(u"DoAdditionalAction", {std::u16string(name)})));
    EXPECT_NE(LastError(*d_).second, u"Action not found") << ToUtf8(name);
  }
  for (const char16_t* name : {u"", u"ViewLogs", u"Open"}) {
    EXPECT_FALSE(Ok(d_->Call(u"DoAdditionalAction", {std::u16string(name)})));
    EXPECT_EQ(LastError(*d_).second, u"Action not found") << ToUtf8(name);
  }
}

TEST_F(FrameworkTest, DeviceTestWritesItsOutputsAndLeavesTheDriverClosed) {
  CallResult r = d_->Call(u"DeviceTest", {std::u16string(u"x"), std::u16string(u"y")});
  ASSERT_TRUE(Ok(r));
  EXPECT_EQ(r.args[0], Value(std::u16string(u"Тестовый драйвер")));
  EXPECT_EQ(r.args[1], Value(std::u16string()));
  EXPECT_FALSE(Ok(d_->Call(u"Check"))) << "the driver is closed again";
}

TEST_F(FrameworkTest, SettingsConvertAndUnknownOnesAreKept) {
  auto set = [&](const std::u16string& name, Value v) {
    return Ok(d_->Call(u"SetParameter", {name, v}));
  };
  auto read = [&](const char16_t* method, const std::u16string& name) {
    return d_->Call(method, {name, Value()});
  };

  EXPECT_TRUE(set(u"logenabled", true));
  EXPECT_EQ(read(u"ReadBool", u"LogEnabled").args[1], Value(true));
  EXPECT_TRUE(set(u"ЛогВключен", std::u16string(u"FaLsE")));
  EXPECT_EQ(read(u"ReadBool", u"LogEnabled").args[1], Value(false));
  EXPECT_TRUE(set(u"Text", std::u16string(u"0")));
  EXPECT_EQ(read(u"ReadInt", u"Text").args[1], Value(std::int32_t{0}));
  EXPECT_TRUE(set(u"Text", std::u16string(u"abc")));
  EXPECT_FALSE(Ok(read(u"ReadInt", u"Text")));
  EXPECT_EQ(LastError(*d_).second, u"Не удалось преобразовать значение \"abc\" к типу Integer");

  // A missing setting reads as empty, is recorded, and does not stop the operation.
  CallResult missing = read(u"ReadStr", u"Nope");
  EXPECT_TRUE(Ok(missing));
  EXPECT_EQ(missing.args[1], Value(std::u16string()));
  EXPECT_EQ(LastError(*d_),
            std::make_pair(1001, std::u16string(u"Свойство \"Nope\" не существует")));

  // Any number of settings the driver does not know are kept and read back.
  EXPECT_TRUE(set(u"Extra1", std::int32_t{5}));
  EXPECT_TRUE(set(u"Extra2", std::u16string(u"два")));
  EXPECT_EQ(d_->Property(u"Extra1"), Value(std::int32_t{5}));
  EXPECT_EQ(d_->Property(u"extra2"), Value(std::u16string(u"два")));

  EXPECT_FALSE(set(u"", std::u16string(u"x")));
  EXPECT_EQ(LastError(*d_).second, u"Не указано имя параметра");
  EXPECT_FALSE(set(u"LastErrorDescription", std::u16string(u"x")));
  EXPECT_EQ(LastError(*d_).second, u"Свойство \"LastErrorDescription\" запрещено к изменению.");
}

TEST_F(FrameworkTest, DocumentsWithoutATemplate) {
  ASSERT_TRUE(Ok(d_->Call(u"SetParameter", {std::u16string(u"Extra"), 2.5})));
  test::XmlDoc doc = Parse(Out(*d_, u"GetParameters"));
  EXPECT_EQ(doc.version, "1.0");
  ASSERT_EQ(doc.root.name, "Settings");
  const test::XmlNode& page = doc.root.Child("Page");
  EXPECT_EQ(page.Attr("Caption"), "Параметры");
  std::vector<std::array<std::string, 4>> params;
  for (const test::XmlNode* p : page.Children("Parameter")) {
    params.push_back(
        {p->Attr("Name"), p->Attr("Caption"), p->Attr("TypeValue"), p->Attr("DefaultValue")});
  }
  std::vector<std::array<std::string, 4>> expected = {
      {"LogEnabled", "ЛогВключен", "Boolean", "false"},
      {"Text", "Текст", "String", "abc"},
      {"", "Extra", "Number", "2.5"}};
  EXPECT_EQ(params, expected);

  test::XmlDoc actions = Parse(Out(*d_, u"GetAdditionalActions"));
  ASSERT_EQ(actions.root.name, "Actions");
  ASSERT_EQ(actions.root.children.size(), 1u);
  const test::XmlNode& action = actions.root.Child("Action");
  EXPECT_EQ(action.Attr("Name"), "ViewLog");
  EXPECT_EQ(action.Attr("Caption"), "Просмотр лога");
}

TEST_F(FrameworkTest, DescriptionOfADriverBuiltFromTheSharedHelpers) {
  test::XmlDoc doc = Parse(Out(*d_, u"GetDescription"));
  ASSERT_EQ(doc.root.name, "DriverDescription");
  const test::XmlNode& d = doc.root;
  EXPECT_EQ(d.Attr("Name"), "test_addin");
  EXPECT_EQ(d.Attr("EquipmentType"), "ВесыСПечатьюЭтикеток");
  EXPECT_EQ(d.Attr("IntegrationComponent"), "false");
  EXPECT_EQ(d.Attr("MainDriverInstalled"), "false");
  EXPECT_EQ(d.Attr("DriverVersion"), "0.0.0.0");
  EXPECT_EQ(d.Attr("LogIsEnabled"), "false");
  EXPECT_TRUE(std::filesystem::is_directory(d.Attr("LogPath")));
}

TEST_F(FrameworkTest, DuplicateRegistrationsAreLoggedWithTheClassName) {
  Component tracer(*lib_, u"TestComponent");
  ASSERT_TRUE(tracer.Call(u"Log", {true}).ok);
  std::string file;
  for (const auto& e : std::filesystem::directory_iterator(test::TestAddinLogFolder()))
    file = e.path().string();
  test::LogTail tail(file);
  Component fresh(*lib_, u"TestDriver");
  EXPECT_FALSE(Ok(fresh.Call(u"Check")));
  ASSERT_TRUE(tracer.Call(u"Log", {false}).ok);
  auto lines = tail.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(24),
            "DEBUG\tTTestDriver: \tСвойство с указанным именем уже зарегистрировано. [Текст,Text]");
  int errors = 0;
  for (const auto& l : lines)
    errors += l.find("\tERROR\tException: \tУстройство не включено") != std::string::npos;
  EXPECT_EQ(errors, 1);
}

}  // namespace
}  // namespace velquora::host
