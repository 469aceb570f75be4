#include "driver/scale_driver.h"

#include "common/error.h"
#include "common/text.h"
#include "driver/goods_reader.h"
#include "driver/setting_conversion.h"
#include "protocol/frames.h"
#include "protocol/wire_format.h"

namespace velquora::driver {

using addin::Arguments;
using addin::Variant;

// The host methods: the ten common equipment methods, then the scale's own.
struct ScaleDriver::MethodRow {
  const char16_t* name_ru;
  const char16_t* name_en;
  int params;
  Variant (ScaleDriver::*handler)(Arguments&);
};

const ScaleDriver::MethodRow ScaleDriver::kMethodRows[] = {
    {u"ПолучитьРевизиюИнтерфейса", u"GetInterfaceRevision", 0, &ScaleDriver::GetInterfaceRevision},
    {u"ПолучитьОписание", u"GetDescription", 1, &ScaleDriver::GetDescription},
    {u"ПолучитьОшибку", u"GetLastError", 1, &ScaleDriver::GetLastError},
    {u"Подключить", u"Open", 1, &ScaleDriver::Open},
    {u"Отключить", u"Close", 1, &ScaleDriver::Close},
    {u"ПолучитьПараметры", u"GetParameters", 1, &ScaleDriver::GetParameters},
    {u"УстановитьПараметр", u"SetParameter", 2, &ScaleDriver::SetParameter},
    {u"ТестУстройства", u"DeviceTest", 2, &ScaleDriver::DeviceTest},
    {u"ПолучитьДополнительныеДействия", u"GetAdditionalActions", 1,
     &ScaleDriver::GetAdditionalActions},
    {u"ВыполнитьДополнительноеДействие", u"DoAdditionalAction", 1,
     &ScaleDriver::DoAdditionalAction},
    {u"ВыгрузитьТовары", u"UploadGoods", 3, &ScaleDriver::UploadGoods},
    {u"ВыгрузитьГруппы", u"UploadGroups", 1, &ScaleDriver::UploadGroups},
    {u"ВыгрузитьМагазины", u"UploadShops", 1, &ScaleDriver::UploadShops},
    {u"ОчиститьТовары", u"ClearGoods", 1, &ScaleDriver::ClearGoods},
    {u"ОчиститьГруппы", u"ClearGroups", 0, &ScaleDriver::ClearGroups},
    {u"УдалитьТовар", u"DeleteGood", 1, &ScaleDriver::DeleteGood},
    {u"УдалитьГруппу", u"DeleteGroup", 1, &ScaleDriver::DeleteGroup},
    {u"ВыгрузитьДанные", u"UploadData", 2, &ScaleDriver::UploadData},
};

namespace {

// The settings: the log switch, then the scale's own, with their initial values.
struct SettingRow {
  const char16_t* name_ru;
  const char16_t* name_en;
  const char16_t* initial;
};

const SettingRow kScaleSettings[] = {
    {u"IPАдрес", u"IPAddress", u""},
    {u"IPПорт", u"IPPort", u"0"},
    {u"ШрифтНаименования", u"CommodityFont", u"0"},
    {u"ШрифтИнгридиентов", u"IngredientFont", u"0"},
    {u"ШрифтСообщений", u"SpecMessageFont", u"0"},
    {u"ШрифтМагазина", u"CompanyFont", u"0"},
    {u"НомерФорматаЭтикетки", u"LabelFormatNumber", u"17"},
    {u"ВестиЛогОбмена", u"ExtLogEnabled", u"false"},
};

// The caption of the driver's own records in the log.
constexpr char16_t kLogCaption[] = u"TDriver";

// The top-level element must be named `root` exactly.
void CheckRoot(const HostDocument& doc, std::string_view root) {
  if (doc.RootName() != root) throw Error(ErrorKind::kInvalid, "Не найден корневой узел");
}

}  // namespace

ScaleDriver::ScaleDriver(log::LogWriter& log, std::unique_ptr<protocol::TcpClient> client)
    : addin::Component(kDriverName, &log), log_(log), link_(log, std::move(client)) {
  for (const MethodRow& row : kMethodRows) {
    methods().Add(
        row.name_ru, row.name_en, row.params,
        [this, handler = row.handler](Arguments& args) { return (this->*handler)(args); });
  }
  AddSetting(properties(), u"ЛогВключен", u"LogEnabled", Variant::Bool(false), log_, kLogCaption);
  for (const SettingRow& s : kScaleSettings) {
    AddSetting(properties(), s.name_ru, s.name_en, Variant::String(s.initial), log_, kLogCaption);
  }
}

std::string ScaleDriver::LogNameFromAddress(const std::u16string& address) {
  std::u16string name;
  for (char16_t c : address) {
    if (c == u'.') c = u'_';
    bool keep = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                c == u'-' || c == u'_' || (c >= 0x0400 && c <= 0x04FF);
    if (keep) name += c;
  }
  return ToUtf8(name);
}

Variant ScaleDriver::Framed(const std::function<void()>& work) {
  return HandlerFrame(last_result_, log_, work);
}

Variant ScaleDriver::ScaleMethod(const std::function<void()>& work) {
  return Framed([&] {
    CheckOpen(open_);
    work();
  });
}

Variant ScaleDriver::Setting(std::u16string_view name) {
  return SettingValue(properties(), name, last_result_, log_);
}

// ---- the common equipment methods ----

Variant ScaleDriver::GetInterfaceRevision(Arguments&) {
  return InterfaceRevision();
}

Variant ScaleDriver::GetDescription(Arguments& args) {
  return Framed([&] { SetArg(args, 0, Variant::String(DescriptionXml(kScaleDriverInfo, log_))); });
}

Variant ScaleDriver::GetLastError(Arguments& args) {
  return LastErrorResult(last_result_, args);
}

Variant ScaleDriver::Open(Arguments&) {
  return Framed([&] { OpenDriver(); });
}

Variant ScaleDriver::Close(Arguments&) {
  return Framed([&] { CloseDriver(); });
}

Variant ScaleDriver::GetParameters(Arguments& args) {
  return Framed([&] { SetArg(args, 0, Variant::String(ParametersXml(properties()))); });
}

Variant ScaleDriver::SetParameter(Arguments& args) {
  return Framed([&] { driver::SetParameter(properties(), args); });
}

Variant ScaleDriver::DeviceTest(Arguments& args) {
  return Framed([&] {
    // Connects only when the driver is closed, and leaves it as it was.
    const bool was_open = open_;
    if (!was_open) {
      try {
        OpenDriver();
      } catch (...) {
        CloseDriver();
        throw;
      }
    }
    if (!was_open) CloseDriver();
    SetArg(args, 0, Variant::String(u"Весы подключены"));
    SetArg(args, 1, Variant::String(u""));
  });
}

Variant ScaleDriver::GetAdditionalActions(Arguments& args) {
  return Framed([&] { SetArg(args, 0, Variant::String(ActionsXml())); });
}

Variant ScaleDriver::DoAdditionalAction(Arguments& args) {
  return Framed([&] { RunAction(Arg(args, 0).ToText(), log_); });
}

// Open names the log after the scale and switches it as the settings say, copies the label
// settings, and connects; a failed connection leaves the driver open all the same (every
// operation connects again).
void ScaleDriver::OpenDriver() {
  open_ = true;
  // Prices are always read with "." (see goods_reader), so no separator needs setting here.
  log_.SetLogFileName(LogNameFromAddress(SettingToStr(Setting(u"IPAddress"))));
  log_.SetLogDetail(SettingToBool(Setting(u"LogEnabled")) ? 3 : 0);
  link_.set_exchange_log(SettingToBool(Setting(u"ExtLogEnabled")));
  label_.commodity_font = SettingToInt(Setting(u"CommodityFont"));
  label_.ingredient_font = SettingToInt(Setting(u"IngredientFont"));
  label_.company_font = SettingToInt(Setting(u"CompanyFont"));
  label_.spec_message_font = SettingToInt(Setting(u"SpecMessageFont"));
  label_.label_format = SettingToInt(Setting(u"LabelFormatNumber"));
  Reconnect();
}

void ScaleDriver::CloseDriver() {
  link_.Close();
  open_ = false;
}

void ScaleDriver::Reconnect() {
  link_.Close();
  const std::u16string address = SettingToStr(Setting(u"IPAddress"));
  const std::int32_t port = SettingToInt(Setting(u"IPPort"));
  link_.Connect(address, port);
}

// ---- the scale's methods ----

Variant ScaleDriver::UploadGoods(Arguments& args) {
  return ScaleMethod([&] {
    std::u16string scratch;
    UploadDocument(
        TextArg(args, 1, scratch), u"товаров", HostAttr::kPlu,
        [this](const HostRecord& r) { return protocol::PluWrite(ReadGoodsRecord(r), label_); });
  });
}

Variant ScaleDriver::UploadGroups(Arguments& args) {
  return ScaleMethod([&] {
    std::u16string scratch;
    UploadDocument(TextArg(args, 0, scratch), u"групп", HostAttr::kCode, [](const HostRecord& r) {
      GroupRecord g = ReadGroupRecord(r);
      return protocol::GroupWrite(g.code, g.name);
    });
  });
}

Variant ScaleDriver::UploadShops(Arguments& args) {
  return ScaleMethod([&] {
    std::u16string scratch;
    UploadDocument(TextArg(args, 0, scratch), u"магазинов", HostAttr::kCode,
                   [this](const HostRecord& r) {
                     GroupRecord s = ReadShopRecord(r);
                     return protocol::ShopWrite(s.code, s.name, label_);
                   });
  });
}

Variant ScaleDriver::ClearGoods(Arguments&) {
  return ScaleMethod([&] {
    Reconnect();
    link_.Run(protocol::TableClear(protocol::kTablePlu));
  });
}

Variant ScaleDriver::ClearGroups(Arguments&) {
  return ScaleMethod([&] {
    Reconnect();
    link_.Run(protocol::TableClear(protocol::kTableMainGroup));
  });
}

Variant ScaleDriver::DeleteGood(Arguments& args) {
  return ScaleMethod([&] {
    Reconnect();
    link_.Run(protocol::RecordDelete(
        protocol::kTablePlu, RecordNumberArgument(Arg(args, 0), "Некорректный номер товара")));
  });
}

Variant ScaleDriver::DeleteGroup(Arguments& args) {
  return ScaleMethod([&] {
    Reconnect();
    link_.Run(
        protocol::RecordDelete(protocol::kTableMainGroup,
                               RecordNumberArgument(Arg(args, 0), "Некорректный номер группы")));
  });
}

Variant ScaleDriver::UploadData(Arguments& args) {
  return ScaleMethod([&] {
    std::u16string scratch;
    const std::u16string& data = TextArg(args, 1, scratch);
    Reconnect();
    SendData(Arg(args, 0).ToText(), data);
  });
}

bool ScaleDriver::UploadSystemSettings(const std::u16string& document) {
  return ScaleMethod([&] {
           HostDocument doc = HostDocument::Parse(document);
           Reconnect();
           CheckRoot(doc, "SystemSettings");
           link_.Run(protocol::SystemSettingsWrite(doc.Root().Text(HostAttr::kDateTime)));
         })
      .bool_value();
}

UploadProgress::Sink ScaleDriver::StatusLine() {
  return {[this](const std::u16string& text) { SetStatusLine(text); },
          [this] { ResetStatusLine(); }};
}

namespace {

// The attribute a field the frame builders name comes from.
std::optional<HostAttr> AttrOfField(std::string_view field) {
  static constexpr struct {
    std::string_view field;
    HostAttr attr;
  } kFields[] = {{"Наименование", HostAttr::kName},
                 {"Название магазина", HostAttr::kName},
                 {"Состав", HostAttr::kDescription},
                 {"Спецсообщение", HostAttr::kSpecMessage},
                 {protocol::kEanField, HostAttr::kEanData}};
  for (const auto& f : kFields) {
    if (f.field == field) return f.attr;
  }
  for (std::size_t i = 0; i < kHostAttrCount; ++i) {
    if (HostAttrName(static_cast<HostAttr>(i)) == field) return static_cast<HostAttr>(i);
  }
  return std::nullopt;
}

// An attribute's value as the location shows it: quoted, cut after kShownValueChars characters.
std::string ShownValue(const HostRecord& r, HostAttr attr) {
  constexpr std::size_t kShownValueChars = 40;
  std::optional<std::string_view> value = r.Get(attr);
  if (!value) return std::string(HostAttrName(attr)) + " отсутствует";
  std::u16string text = ToUtf16(*value);
  const bool cut = text.size() > kShownValueChars;
  if (cut) {
    std::size_t at = kShownValueChars;
    if (text[at - 1] >= 0xD800 && text[at - 1] <= 0xDBFF) --at;  // not half a character
    text.resize(at);
  }
  return std::string(HostAttrName(attr)) + "=\"" + ToUtf8(text) + (cut ? "…\"" : "\"");
}

// " (запись N, строка L, PLU P: Attr="value")": where in the document a record failed.
std::string RecordLocation(const HostRecord& r, std::size_t index, std::uint32_t line,
                           HostAttr code, const std::string& field) {
  std::string where = " (запись " + std::to_string(index + 1) + ", строка " + std::to_string(line);
  const std::optional<HostAttr> at_fault = AttrOfField(field);
  std::optional<std::string_view> code_text = r.Get(code);
  if (code_text && at_fault != code) {
    where += ", " + std::string(code == HostAttr::kPlu ? "PLU" : "код") + " " +
             std::string(TrimControl(*code_text));
  }
  if (at_fault) where += ": " + ShownValue(r, *at_fault);
  return where + ")";
}

}  // namespace

void ScaleDriver::UploadDocument(
    const std::u16string& text, const char16_t* what, HostAttr code,
    const std::function<protocol::Command(const HostRecord&)>& prepare) {
  // Each record is encoded as soon as the parser has read it and only its frame is kept: the
  // parsed document never exists whole beside the frames.
  protocol::FrameList frames;
  std::optional<Error> failed;
  HostDocument doc = HostDocument::ParseRecords(text, [&](const HostRecord& r, std::size_t index,
                                                          std::uint32_t line) {
    try {
      frames.Add(prepare(r));
      return true;
    } catch (const Error& e) {
      failed.emplace(e.kind(), e.what() + RecordLocation(r, index, line, code, e.context().field));
      failed->context() = e.context();
      return false;
    }
  });
  // A text that is not well-formed, then a wrong root, fail before a bad record does.
  CheckRoot(doc, "Table");
  if (failed) throw *failed;
  Reconnect();
  SendRecords(frames, what);
}

void ScaleDriver::SendRecords(const protocol::FrameList& frames, const char16_t* what) {
  const std::size_t total = frames.size();
  UploadProgress progress(what, total, StatusLine());
  std::size_t accepted = 0;
  protocol::RecordName record;
  try {
    for (std::size_t i = 0; i < total; ++i) {
      // Judges the record before (its refusal, if any, is the failure) and sends this one.
      const bool judged_previous = link_.write_in_flight();
      const bool named = frames.Record(i, record);
      link_.StartWrite(frames.Frame(i), named ? &record : nullptr);
      if (judged_previous) progress.Advance(++accepted);
    }
    if (link_.write_in_flight()) {
      link_.FinishWrite();
      progress.Advance(++accepted);
    }
    if (total > 1) link_.ExpectQuiet();
  } catch (Error& e) {
    e.context().records_done = static_cast<std::int64_t>(accepted);
    e.context().records_total = static_cast<std::int64_t>(total);
    throw;
  }
}

std::int64_t ScaleDriver::RecordNumberArgument(const Variant& value, const char* message) {
  std::int32_t number = SettingToInt(value);
  if (number < 0 || number > protocol::kMaxBcd4)
    throw Error(ErrorKind::kInvalid, std::string(message) + ": " + std::to_string(number));
  return number;
}

// UploadData's records: the file name chooses the command (D clear, F write, T read) and the
// table; the hex text is split into records by the size each one carries.
void ScaleDriver::SendData(const std::u16string& file_name, const std::u16string& data) {
  std::u16string prefix;
  char16_t first = file_name.empty() ? 0 : AsciiUpper(file_name.substr(0, 1))[0];
  if (first == u'D')
    prefix = u"F2";
  else if (first == u'F')
    prefix = u"F1";
  else if (first == u'T')
    prefix = u"F7";
  // Without both table characters the record's own bytes would take the table's place.
  if (prefix.empty() || file_name.size() < 3)
    throw Error(ErrorKind::kInvalid, "Некорректное имя файла");
  prefix += AsciiUpper(file_name.substr(1, 2));

  // Split and check everything before the first frame goes out. The records stay where they
  // lie in the host's text; each request is put together only when it is sent. A record that
  // fails is named by its number and the character of the text it starts at.
  constexpr char kBadData[] = "Некорректные входные данные";
  auto bad_record = [&](std::size_t index, std::size_t at) {
    return Error(ErrorKind::kInvalid, std::string(kBadData) + " (запись " +
                                          std::to_string(index + 1) + ", символ " +
                                          std::to_string(at + 1) + ")");
  };
  std::vector<std::u16string_view> records;
  std::u16string_view rest = data;
  do {
    // Characters 9 to 12 of a record are its size in bytes.
    std::int64_t size = rest.size() > 8 ? protocol::NumberFromHex(rest.substr(8, 4)) : 0;
    if (!rest.empty() && (size == 0 || static_cast<std::int64_t>(rest.size()) < 2 * size)) {
      throw bad_record(records.size(), data.size() - rest.size());
    }
    std::size_t length = rest.empty() ? 0 : static_cast<std::size_t>(2 * size);
    records.push_back(rest.substr(0, length));
    rest.remove_prefix(length);
  } while (!rest.empty());
  if (!protocol::IsHexText(prefix)) throw Error(ErrorKind::kInvalid, kBadData);
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (!protocol::IsHexText(records[i]))
      throw bad_record(i, static_cast<std::size_t>(records[i].data() - data.data()));
  }
  UploadProgress progress(u"данных", records.size(), StatusLine());
  std::size_t sent = 0;
  std::u16string request;
  try {
    for (const auto& record : records) {
      request.assign(prefix).append(record);
      link_.Run(protocol::RawCommand(request));
      progress.Advance(++sent);
    }
    if (records.size() > 1) link_.ExpectQuiet();
  } catch (Error& e) {
    e.context().records_done = static_cast<std::int64_t>(sent);
    e.context().records_total = static_cast<std::int64_t>(records.size());
    throw;
  }
}

}  // namespace velquora::driver
