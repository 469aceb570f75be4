// Component classes for the frame and framework tests, in a library of their own that the
// tests load through the host kit exactly as a host loads the driver.
#include <cstdlib>

#include "addin/class_registry.h"
#include "addin/ext_native_component.h"
#include "common/error.h"
#include "driver/scale_offline_driver.h"
#include "log/log_writer.h"

namespace velquora::test {
namespace {

using addin::VarArrayData;
using addin::Variant;

// Handlers that return values, change arguments and raise.
class TestComponent : public addin::TExtNativeComponent {
 public:
  static std::u16string NCClassName() { return u"TestComponent"; }
  std::u16string ClassName() const override { return NCClassName(); }

  TestComponent() {
    mt_Add(u"ВернутьИстину", u"ReturnTrue", 2, [](VarArrayData& p) {
      if (p.size() > 1) p[1] = Variant::String(u"описание");
      return Variant::Bool(true);
    });
    mt_Add(u"Упасть", u"Fail", 1,
           [](VarArrayData&) -> Variant { throw Error(ErrorKind::kIo, "Сбой оборудования"); });
    mt_Add(u"Эхо", u"Echo", 1, [](VarArrayData& p) { return p.empty() ? Variant() : p[0]; });
    mt_Add(u"ВернутьЧисло", u"ReturnInt", 0, [](VarArrayData&) { return Variant::Int(42); });
    mt_Add(u"ВернутьМассив", u"ReturnArray", 0, [](VarArrayData&) {
      return Variant::Array({Variant::String(u"a"), Variant::String(u"b")});
    });
    mt_Add(u"Размер", u"Count", 0,
           [](VarArrayData& p) { return Variant::Int(static_cast<long long>(p.size())); });
    mt_Add(u"Событие", u"Event", 0,
           [this](VarArrayData&) { return Variant::Bool(ExternalEvent(u"src", u"msg", u"data")); });
    mt_Add(u"Глубина", u"Depth", 0,
           [this](VarArrayData&) { return Variant::Int(GetEventBufferDepth()); });
    mt_Add(u"Статус", u"Status", 1, [this](VarArrayData& p) {
      SetStatusLine(p.empty() ? u"" : p[0].ToText());
      ResetStatusLine();
      return Variant::Bool(true);
    });
    mt_Add(u"Лог", u"Log", 1, [](VarArrayData& p) {
      log::LogWriter::Instance().SetLogDetail(!p.empty() && p[0].IsBool() && p[0].bool_value() ? 3
                                                                                               : 0);
      return Variant::Bool(true);
    });
    mt_Add(u"СтрокиНаХост", u"HostStrings", 0, [this](VarArrayData&) {
      DisposeWChar_T(_ToWChar_T(std::string_view{}));
      DisposeWChar_T(_ToWChar_T(std::u16string_view{}));
      return Variant::Bool(true);
    });
  }
};

// A driver of the common framework with one text setting and no settings template.
class TestDriver : public driver::TCommonDriver {
 public:
  static std::u16string NCClassName() { return u"TestDriver"; }
  std::u16string ClassName() const override { return NCClassName(); }
  std::u16string TypeName() const override { return u"TTestDriver"; }
  void RegisterSettings() override {
    TCommonDriver::RegisterSettings();
    pt_Add(u"Текст", u"Text", false, Variant::String(u"abc"));
    pt_Add(u"Текст", u"Text", false, Variant::String(u"dup"));  // logged, ignored
  }
  void RegisterMethods() override {
    TCommonDriver::RegisterMethods();
    AddFramedMethod({u"ПрочитатьЧисло", u"ReadInt", 2}, [this](VarArrayData& p) {
      driver::SetParam(p, 1, Variant::Int(GetSettingValueInt(driver::Param(p, 0).ToText())));
    });
    AddFramedMethod({u"ПрочитатьФлаг", u"ReadBool", 2}, [this](VarArrayData& p) {
      driver::SetParam(p, 1, Variant::Bool(GetSettingValueBool(driver::Param(p, 0).ToText())));
    });
    AddFramedMethod({u"ПрочитатьТекст", u"ReadStr", 2}, [this](VarArrayData& p) {
      driver::SetParam(p, 1, Variant::String(GetSettingValueStr(driver::Param(p, 0).ToText())));
    });
    AddFramedMethod({u"Проверить", u"Check", 0}, [this](VarArrayData&) { CheckEnabled(); });
  }
};

// An offline-scale driver that provides nothing of its own.
class TestScale : public driver::TScaleOfflineDriver {
 public:
  static std::u16string NCClassName() { return u"TestScale"; }
  std::u16string ClassName() const override { return NCClassName(); }
  void RegisterMethods() override {
    TScaleOfflineDriver::RegisterMethods();
    mt_Add(u"ВыгрузитьТовары", u"UploadGoods", 3,
           [this](VarArrayData& p) { return UploadGoodsHandler(p); });
    mt_Add(u"ОчиститьТовары", u"ClearGoods", 1,
           [this](VarArrayData& p) { return ClearGoodsHandler(p); });
  }
};

// Reports what reached the upload hook: the first record's Name and the status, as its error.
class TestScaleCapture : public TestScale {
 public:
  static std::u16string NCClassName() { return u"TestScaleCapture"; }
  std::u16string ClassName() const override { return NCClassName(); }
  void UploadGoods(const driver::HostDocument& doc, const std::u16string& status) override {
    std::u16string name = doc.RecordCount() ? doc.Record(0).Text(driver::HostAttr::Name) : u"";
    throw Error(ErrorKind::kInternal, name + u"|" + status);
  }
};

struct Unit {
  Unit() {
    if (const char* folder = std::getenv("VELQUORA_TEST_LOG_FOLDER"))
      log::LogWriter::Instance().SetLogFolder(folder);
    log::LogWriter::Instance().SetLogFileName("test_addin");
    driver::GetDriverInfo<driver::TScaleOfflineDriver>(u"test_addin", u"Тестовый драйвер");
    addin::RegisterComponentClass(addin::ClassOf<TestComponent>());
    addin::RegisterComponentClass(addin::ClassOf<TestDriver>());
    addin::RegisterComponentClass(addin::ClassOf<TestScale>());
    addin::RegisterComponentClass(addin::ClassOf<TestScaleCapture>());
  }
  ~Unit() { addin::ClearComponentClasses(); }
} g_unit;

}  // namespace
}  // namespace velquora::test
