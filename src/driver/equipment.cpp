#include "driver/equipment.h"

#include "common/error.h"
#include "common/text.h"
#include "driver/resource_document.h"
#include "driver/setting_conversion.h"
#include "driver/viewers.h"
#include "driver/xml_writer.h"
#include "platform/case_mapping.h"
#include "platform/resources.h"

namespace velquora::driver {

using addin::Arguments;
using addin::Variant;
using addin::VariantKind;

namespace {

// Records the failure in flight (inside a catch block): the last result and its log record.
void RecordFailure(LastResult& last, LogSink& log) {
  last = {kFailureCode, CurrentErrorText(), ErrorKind::kInternal, {}};
  try {
    throw;
  } catch (const Error& e) {
    last.kind = e.kind();
    last.context = e.context();
    last.text = ToUtf16(TextWithContext(e.what(), e.context()));
  } catch (...) {
  }
  log.Write(u"Exception", last.text, LogLevel::kError);
}

}  // namespace

std::string TextWithContext(const std::string& text, const ErrorContext& context) {
  if (context.address.empty()) return text;
  std::string out = text + " (" + context.address;
  if (!context.reason.empty()) out += ": " + context.reason;
  if (context.records_done >= 0 && context.records_total >= 0) {
    out += "; записано " + std::to_string(context.records_done) + " из " +
           std::to_string(context.records_total);
  }
  return out + ")";
}

Variant HandlerFrame(LastResult& last, LogSink& log, const std::function<void()>& work) {
  try {
    work();
    return Variant::Bool(true);
  } catch (...) {
    RecordFailure(last, log);
    return Variant::Bool(false);
  }
}

Variant LastErrorResult(const LastResult& last, Arguments& args) {
  if (!args.empty()) args[0] = Variant::String(last.text);
  return Variant::Int(last.code);
}

Variant InterfaceRevision() {
  return Variant::UInt(kInterfaceRevision, VariantKind::kUInt16);
}

void CheckOpen(bool open) {
  if (!open) throw Error(ErrorKind::kNotOpen, kNotOpenText);
}

std::u16string DescriptionXml(const DriverInfo& info, log::LogWriter& log) {
  XmlWriter doc;
  doc.Open("DriverDescription");
  auto set = [&](const char* name, std::u16string_view value) {
    doc.Attribute(name, ToUtf8(value));
  };
  auto flag = [&](const char* name, bool value) { doc.Attribute(name, value ? "true" : "false"); };
  const std::u16string version = LibraryVersionText();
  set("Name", info.name);
  set("Description", info.description);
  set("EquipmentType", EquipmentTypeName(static_cast<int>(info.equipment_type)));
  flag("IntegrationComponent", info.integration_component);
  flag("MainDriverInstalled", info.main_driver_installed);
  set("DriverVersion", version);
  set("IntegrationComponentVersion", version);
  set("DownloadURL", info.download_url);
  flag("LogIsEnabled", log.LogDetail() != 0);
  doc.Attribute("LogPath", log.LogFolderPath());
  return ToUtf16(doc.Finish());
}

namespace {

const char* TypeWord(const Variant& v) {
  switch (v.kind()) {
    case VariantKind::kInt16:
    case VariantKind::kInt32:
    case VariantKind::kSingle:
    case VariantKind::kDouble:
    case VariantKind::kCurrency:
    case VariantKind::kUInt8:
      return "Number";
    case VariantKind::kBool:
      return "Boolean";
    default:
      return "String";
  }
}

}  // namespace

std::u16string ParametersXml(const addin::PropertyTable& settings) {
  if (auto item = platform::FindDataItem("Parameters")) return ResourceDocumentText(*item);
  XmlWriter doc;
  doc.Open("Settings");
  doc.Open("Page");
  doc.Attribute("Caption", "Параметры");
  for (long i = 0; i < settings.Count(); ++i) {
    const addin::Property& p = settings.At(i);
    if (p.read_only) continue;
    doc.Open("Parameter");
    doc.Attribute("Name", ToUtf8(p.name_en));
    doc.Attribute("Caption", ToUtf8(p.name_ru));
    doc.Attribute("TypeValue", TypeWord(p.value));
    doc.Attribute("DefaultValue", p.value.IsBool() ? (p.value.bool_value() ? "true" : "false")
                                                   : ToUtf8(SettingToStr(p.value)));
    doc.Close();
  }
  return ToUtf16(doc.Finish());
}

std::u16string ActionsXml() {
  auto item = platform::FindDataItem("Actions");
  return item ? ResourceDocumentText(*item) : std::u16string();
}

void RunAction(std::u16string_view name, log::LogWriter& log) {
  enum class Action { kViewLog, kShowHelp };
  static const struct {
    const char16_t* name;
    Action action;
  } kActions[] = {{u"ViewLog", Action::kViewLog}, {u"ShowHelp", Action::kShowHelp}};
  for (const auto& a : kActions) {
    if (ToUtf8(a.name).size() != ToUtf8(name).size() || !platform::EqualsNoCase(a.name, name))
      continue;
    if (a.action == Action::kViewLog) {
      InstalledViewers().ShowLog(log.LogFolderPath());
    } else {
      InstalledViewers().ShowHelp(kHelpCaption);
    }
    return;
  }
  throw Error(ErrorKind::kNotFound, "Action not found");
}

void AddSetting(addin::PropertyTable& settings, const char16_t* name_ru, const char16_t* name_en,
                Variant initial, LogSink& log, std::u16string_view caption) {
  try {
    settings.Add(name_ru, name_en, false, std::move(initial));
  } catch (const Error& e) {
    if (e.kind() != ErrorKind::kInvalid) throw;
    log.Write(caption, e.Text(), LogLevel::kDebug);
  }
}

void SetParameter(addin::PropertyTable& settings, const Arguments& args) {
  std::u16string name = Arg(args, 0).ToText();
  if (name.empty()) throw Error(ErrorKind::kInvalid, "Не указано имя параметра");
  Variant value = Arg(args, 1);
  if (settings.Find(name) == -1) settings.Add(name, u"", false, value);
  settings.Set(name, std::move(value));
}

Variant SettingValue(const addin::PropertyTable& settings, std::u16string_view name,
                     LastResult& last, LogSink& log) {
  try {
    return settings.Value(name);
  } catch (...) {
    RecordFailure(last, log);
    return {};
  }
}

Variant Arg(const Arguments& args, std::size_t index) {
  return index < args.size() ? args[index] : Variant();
}

const std::u16string& TextArg(const Arguments& args, std::size_t index, std::u16string& scratch) {
  if (index < args.size() && args[index].IsString()) return args[index].string_value();
  scratch = Arg(args, index).ToText();
  return scratch;
}

void SetArg(Arguments& args, std::size_t index, Variant value) {
  if (index < args.size()) args[index] = std::move(value);
}

}  // namespace velquora::driver
