#include "driver/common_driver.h"

#include "common/text.h"
#include "driver/resource_document.h"
#include "driver/setting_conversion.h"
#include "driver/viewers.h"
#include "driver/xml_writer.h"
#include "log/log_writer.h"
#include "platform/case_mapping.h"
#include "platform/resources.h"

namespace velquora::driver {

using addin::VarArrayData;
using addin::Variant;
using addin::VariantKind;

const MethodName kCommonMethods[10] = {
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

Variant Param(const VarArrayData& params, std::size_t index) {
  return index < params.size() ? params[index] : Variant();
}

const std::u16string& TextParam(const VarArrayData& params, std::size_t index,
                                std::u16string& scratch) {
  if (index < params.size() && params[index].IsString()) return params[index].string_value();
  scratch = Param(params, index).ToText();
  return scratch;
}

void SetParam(VarArrayData& params, std::size_t index, Variant value) {
  if (index < params.size()) params[index] = std::move(value);
}

void RecordComponentName(const std::u16string& name) {
  auto& writer = log::LogWriter::Instance();
  writer.SetLogFileName(ToUtf8(name));
  writer.WriteLogHeader();
}

void TCommonDriver::AfterConstruction() {
  FLastResult.Clear();
  {
    std::lock_guard lock(DriverInfoMutex());
    UpdateDriverInfo(DriverInfo());
  }
  RegisterMethods();
  RegisterSettings();
}

void TCommonDriver::BeforeDestruction() noexcept {
  try {
    Close();
  } catch (...) {
  }
}

void TCommonDriver::pt_Add(const std::u16string& name1, const std::u16string& name2, bool readonly,
                           const Variant& value) {
  try {
    TCustomDriver::pt_Add(name1, name2, readonly, value);
  } catch (...) {
    log::LogWriter::Instance().Write(TypeName(), CurrentErrorText(), LogLevel::kDebug);
  }
}

void TCommonDriver::FillDriverInfo(TDriverInfo& info) {
  info.Clear();
  info.DownloadURL = kDownloadUrl;
  info.DriverVersion = GetFileVersionText();
  info.IntegrationComponentVersion = info.DriverVersion;
  info.LogIsEnabled = false;
}

void TCommonDriver::AddFramedMethod(const MethodName& name,
                                    std::function<void(VarArrayData&)> work) {
  mt_Add(name.ru, name.en, name.params, [this, work = std::move(work)](VarArrayData& p) {
    return HandlerFrame([&] { work(p); });
  });
}

void TCommonDriver::RegisterMethods() {
  const auto& m = kCommonMethods;
  mt_Add(m[0].ru, m[0].en, m[0].params, [this](VarArrayData&) { return GetInterfaceRevision(); });
  AddFramedMethod(
      m[1], [this](VarArrayData& p) { SetParam(p, 0, Variant::String(BuildDescriptionXml())); });
  mt_Add(m[2].ru, m[2].en, m[2].params, [this](VarArrayData& p) { return GetLastErrorHandler(p); });
  AddFramedMethod(m[3], [this](VarArrayData&) { Open(); });
  AddFramedMethod(m[4], [this](VarArrayData&) { Close(); });
  AddFramedMethod(
      m[5], [this](VarArrayData& p) { SetParam(p, 0, Variant::String(BuildParametersXml())); });
  mt_Add(m[6].ru, m[6].en, m[6].params, [this](VarArrayData& p) {
    return HandlerFrame([&] {
      std::u16string name = Param(p, 0).ToText();
      if (name.empty()) throw Error(ErrorKind::kInvalid, "Не указано имя параметра");
      Variant value = Param(p, 1);
      // A setting the driver does not know is kept, under the one name the host gave it.
      if (pt_Find(name) == -1) pt_Add(name, u"", false, value);
      Setpt_Value(name, value);
    });
  });
  AddFramedMethod(m[7], [this](VarArrayData& p) {
    std::u16string description, extra;
    DeviceTest(description, extra);
    SetParam(p, 0, Variant::String(description));
    SetParam(p, 1, Variant::String(extra));
  });
  AddFramedMethod(m[8],
                  [this](VarArrayData& p) { SetParam(p, 0, Variant::String(BuildActionsXml())); });
  AddFramedMethod(m[9], [this](VarArrayData& p) { RunAction(Param(p, 0).ToText()); });
}

void TCommonDriver::RegisterSettings() {
  pt_Add(u"ЛогВключен", u"LogEnabled", false, Variant::Bool(false));
}

void TCommonDriver::Open() {
  FEnabled = true;
}

void TCommonDriver::Close() {
  FEnabled = false;
}

void TCommonDriver::DeviceTest(std::u16string& description, std::u16string& extra) {
  description.clear();
  extra.clear();
  try {
    Open();
    std::lock_guard lock(DriverInfoMutex());
    description = DriverInfo().Description;
  } catch (...) {
    std::u16string text = CurrentErrorText();
    try {
      Close();
    } catch (...) {
    }
    description = text;
    throw;
  }
  Close();
}

Variant TCommonDriver::GetInterfaceRevision() {
  return Variant::UInt(3002, VariantKind::UInt16);
}

bool TCommonDriver::LogEnabled() {
  return log::LogWriter::Instance().LogDetail() != 0;
}

void TCommonDriver::SetLogEnabled(bool on) {
  log::LogWriter::Instance().SetLogDetail(on ? 3 : 0);
}

void TCommonDriver::CheckEnabled() const {
  if (!FEnabled) throw Error(ErrorKind::kNotOpen, kNotOpenText);
}

std::u16string TCommonDriver::BuildDescriptionXml() {
  TDriverInfo info;
  {
    std::lock_guard lock(DriverInfoMutex());
    info = DriverInfo();
  }
  XmlWriter doc;
  doc.Open("DriverDescription");
  auto set = [&](const char* name, const std::u16string& value) {
    doc.Attribute(name, ToUtf8(value));
  };
  auto flag = [&](const char* name, bool value) { doc.Attribute(name, value ? "true" : "false"); };
  set("Name", info.Name);
  set("Description", info.Description);
  set("EquipmentType", EquipmentTypeName(static_cast<int>(info.EquipmentType)));
  flag("IntegrationComponent", info.IntegrationComponent);
  flag("MainDriverInstalled", info.MainDriverInstalled);
  set("DriverVersion", info.DriverVersion);
  set("IntegrationComponentVersion", info.IntegrationComponentVersion);
  set("DownloadURL", info.DownloadURL);
  flag("LogIsEnabled", LogEnabled());
  doc.Attribute("LogPath", log::LogWriter::Instance().GetLogFileName(true));
  return ToUtf16(doc.Finish());
}

namespace {

const char* TypeWord(const Variant& v) {
  switch (v.kind()) {
    case VariantKind::Int16:
    case VariantKind::Int32:
    case VariantKind::Single:
    case VariantKind::Double:
    case VariantKind::Currency:
    case VariantKind::UInt8:
      return "Number";
    case VariantKind::Bool:
      return "Boolean";
    default:
      return "String";
  }
}

}  // namespace

std::u16string TCommonDriver::BuildParametersXml() {
  if (auto item = platform::FindDataItem("Parameters")) return ResourceDocumentText(*item);
  XmlWriter doc;
  doc.Open("Settings");
  doc.Open("Page");
  doc.Attribute("Caption", "Параметры");
  for (long i = 0; i < pt_Count(); ++i) {
    addin::TProperty p = pt_Get(i);
    if (p.isReadonly) continue;
    doc.Open("Parameter");
    doc.Attribute("Name", ToUtf8(p.PropertyName2));
    doc.Attribute("Caption", ToUtf8(p.PropertyName1));
    doc.Attribute("TypeValue", TypeWord(p.Value));
    doc.Attribute("DefaultValue", p.Value.IsBool() ? (p.Value.bool_value() ? "true" : "false")
                                                   : ToUtf8(SettingToStr(p.Value)));
    doc.Close();
  }
  return ToUtf16(doc.Finish());
}

std::u16string TCommonDriver::BuildActionsXml() {
  auto item = platform::FindDataItem("Actions");
  return item ? ResourceDocumentText(*item) : std::u16string();
}

void TCommonDriver::RunAction(const std::u16string& name) {
  struct Action {
    const char16_t* name;
    void (TCommonDriver::*run)();
  };
  static const Action kActions[] = {{u"ViewLog", &TCommonDriver::ViewLog},
                                    {u"ShowHelp", &TCommonDriver::ShowHelp}};
  for (const auto& action : kActions) {
    if (ToUtf8(action.name).size() == ToUtf8(name).size() &&
        platform::EqualsNoCase(action.name, name)) {
      (this->*action.run)();
      return;
    }
  }
  throw Error(ErrorKind::kNotFound, "Action not found");
}

void TCommonDriver::ViewLog() {
  InstalledViewers().ShowLog(log::LogWriter::Instance().GetLogFileName(true));
}

void TCommonDriver::ShowHelp() {
  InstalledViewers().ShowHelp(kHelpCaption);
}

}  // namespace velquora::driver
