// Component classes for the frame and framework tests, in a library of their own that the
// tests load through the host kit exactly as a host loads the driver.
#include <cstdlib>
#include <functional>
#include <memory>

#include "addin/class_registry.h"
#include "addin/component.h"
#include "common/error.h"
#include "driver/equipment.h"
#include "driver/setting_conversion.h"
#include "log/log_writer.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace velquora::test {
namespace {

using addin::Arguments;
using addin::Variant;

log::LogWriter& AddinLog() {
  static log::LogWriter log(platform::RealFileSystem(), platform::SystemClock(),
                            &log::ApplicationDataFolder, &log::MachineWideFolder);
  return log;
}

// Handlers that return values, change arguments and raise; calls as functions traced.
class TestComponent final : public addin::Component {
 public:
  TestComponent() : addin::Component(u"TestComponent", &AddinLog()) {
    auto& m = methods();
    m.Add(u"ВернутьИстину", u"ReturnTrue", 2, [](Arguments& p) {
      if (p.size() > 1) p[1] = Variant::String(u"описание");
      return Variant::Bool(true);
    });
    m.Add(u"Упасть", u"Fail", 1,
          [](Arguments&) -> Variant { throw Error(ErrorKind::kIo, "Сбой оборудования"); });
    m.Add(u"Эхо", u"Echo", 1, [](Arguments& p) { return p.empty() ? Variant() : p[0]; });
    m.Add(u"ВернутьЧисло", u"ReturnInt", 0, [](Arguments&) { return Variant::Int(42); });
    m.Add(u"ВернутьМассив", u"ReturnArray", 0, [](Arguments&) {
      return Variant::Array({Variant::String(u"a"), Variant::String(u"b")});
    });
    m.Add(u"Размер", u"Count", 0,
          [](Arguments& p) { return Variant::Int(static_cast<long long>(p.size())); });
    m.Add(u"Событие", u"Event", 0,
          [this](Arguments&) { return Variant::Bool(ExternalEvent(u"src", u"msg", u"data")); });
    m.Add(u"Глубина", u"Depth", 0,
          [this](Arguments&) { return Variant::Int(GetEventBufferDepth()); });
    m.Add(u"Статус", u"Status", 1, [this](Arguments& p) {
      SetStatusLine(p.empty() ? u"" : p[0].ToText());
      ResetStatusLine();
      return Variant::Bool(true);
    });
    m.Add(u"Лог", u"Log", 1, [](Arguments& p) {
      AddinLog().SetLogDetail(!p.empty() && p[0].IsBool() && p[0].bool_value() ? 3 : 0);
      return Variant::Bool(true);
    });
    m.Add(u"СтрокиНаХост", u"HostStrings", 0, [this](Arguments&) {
      FreeOnHost(CopyToHost(std::string_view{}));
      FreeOnHost(CopyToHost(std::u16string_view{}));
      return Variant::Bool(true);
    });
  }
};

constexpr driver::DriverInfo kTestDriverInfo = {
    u"test_addin", u"Тестовый драйвер", driver::EquipmentType::kPrintingScale, false,
    false,         driver::kDownloadUrl};

// A driver made of the shared equipment helpers, as the scale driver is: the ten common
// methods, a text setting beside the log switch, no settings template, and methods that read
// settings and check the open state.
class TestDriver final : public addin::Component {
 public:
  TestDriver() : addin::Component(u"TestDriver", &AddinLog()) {
    using Handler = Variant (TestDriver::*)(Arguments&);
    const struct {
      const char16_t* ru;
      const char16_t* en;
      int params;
      Handler handler;
    } kRows[] = {
        {u"ПолучитьРевизиюИнтерфейса", u"GetInterfaceRevision", 0, &TestDriver::Revision},
        {u"ПолучитьОписание", u"GetDescription", 1, &TestDriver::Description},
        {u"ПолучитьОшибку", u"GetLastError", 1, &TestDriver::LastError},
        {u"Подключить", u"Open", 1, &TestDriver::Open},
        {u"Отключить", u"Close", 1, &TestDriver::Close},
        {u"ПолучитьПараметры", u"GetParameters", 1, &TestDriver::Parameters},
        {u"УстановитьПараметр", u"SetParameter", 2, &TestDriver::SetParameter},
        {u"ТестУстройства", u"DeviceTest", 2, &TestDriver::DeviceTest},
        {u"ПолучитьДополнительныеДействия", u"GetAdditionalActions", 1, &TestDriver::Actions},
        {u"ВыполнитьДополнительноеДействие", u"DoAdditionalAction", 1, &TestDriver::RunAction},
        {u"ПрочитатьЧисло", u"ReadInt", 2, &TestDriver::ReadInt},
        {u"ПрочитатьФлаг", u"ReadBool", 2, &TestDriver::ReadBool},
        {u"ПрочитатьТекст", u"ReadStr", 2, &TestDriver::ReadStr},
        {u"Проверить", u"Check", 0, &TestDriver::Check},
    };
    for (const auto& row : kRows) {
      methods().Add(row.ru, row.en, row.params,
                    [this, h = row.handler](Arguments& a) { return (this->*h)(a); });
    }
    constexpr char16_t kCaption[] = u"TTestDriver";
    driver::AddSetting(properties(), u"ЛогВключен", u"LogEnabled", Variant::Bool(false), AddinLog(),
                       kCaption);
    driver::AddSetting(properties(), u"Текст", u"Text", Variant::String(u"abc"), AddinLog(),
                       kCaption);
    driver::AddSetting(properties(), u"Текст", u"Text", Variant::String(u"dup"), AddinLog(),
                       kCaption);  // logged, ignored
  }

 private:
  Variant Framed(const std::function<void()>& work) {
    return driver::HandlerFrame(last_, AddinLog(), work);
  }
  Variant Setting(const Arguments& p) {
    return driver::SettingValue(properties(), driver::Arg(p, 0).ToText(), last_, AddinLog());
  }

  Variant Revision(Arguments&) { return driver::InterfaceRevision(); }
  Variant Description(Arguments& p) {
    return Framed([&] {
      driver::SetArg(p, 0, Variant::String(driver::DescriptionXml(kTestDriverInfo, AddinLog())));
    });
  }
  Variant LastError(Arguments& p) { return driver::LastErrorResult(last_, p); }
  Variant Open(Arguments&) {
    return Framed([&] { open_ = true; });
  }
  Variant Close(Arguments&) {
    return Framed([&] { open_ = false; });
  }
  Variant Parameters(Arguments& p) {
    return Framed(
        [&] { driver::SetArg(p, 0, Variant::String(driver::ParametersXml(properties()))); });
  }
  Variant SetParameter(Arguments& p) {
    return Framed([&] { driver::SetParameter(properties(), p); });
  }
  // A driver without a device of its own: the test describes it and leaves it closed.
  Variant DeviceTest(Arguments& p) {
    return Framed([&] {
      open_ = false;
      driver::SetArg(p, 0, Variant::String(kTestDriverInfo.description));
      driver::SetArg(p, 1, Variant::String(u""));
    });
  }
  Variant Actions(Arguments& p) {
    return Framed([&] { driver::SetArg(p, 0, Variant::String(driver::ActionsXml())); });
  }
  Variant RunAction(Arguments& p) {
    return Framed([&] { driver::RunAction(driver::Arg(p, 0).ToText(), AddinLog()); });
  }
  Variant ReadInt(Arguments& p) {
    return Framed([&] { driver::SetArg(p, 1, Variant::Int(driver::SettingToInt(Setting(p)))); });
  }
  Variant ReadBool(Arguments& p) {
    return Framed([&] { driver::SetArg(p, 1, Variant::Bool(driver::SettingToBool(Setting(p)))); });
  }
  Variant ReadStr(Arguments& p) {
    return Framed([&] { driver::SetArg(p, 1, Variant::String(driver::SettingToStr(Setting(p)))); });
  }
  Variant Check(Arguments&) {
    return Framed([&] { driver::CheckOpen(open_); });
  }

  driver::LastResult last_;
  bool open_ = false;
};

template <typename T>
std::unique_ptr<addin::Component> New() {
  return std::make_unique<T>();
}

struct Unit {
  Unit() {
    if (const char* folder = std::getenv("VELQUORA_TEST_LOG_FOLDER"))
      AddinLog().SetLogFolder(folder);
    AddinLog().SetLogFileName("test_addin");
    addin::LibraryClasses().Add({u"TestComponent", &New<TestComponent>});
    addin::LibraryClasses().Add({u"TestDriver", &New<TestDriver>});
  }
  ~Unit() { addin::LibraryClasses().Clear(); }
} g_unit;

}  // namespace
}  // namespace velquora::test
