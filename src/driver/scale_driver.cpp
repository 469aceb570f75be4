#include "driver/scale_driver.h"

#include "common/error.h"
#include "common/text.h"
#include "driver/goods_reader.h"
#include "driver/host_document.h"
#include "driver/setting_conversion.h"
#include "driver/upload_progress.h"
#include "log/log_writer.h"
#include "protocol/frames.h"
#include "protocol/wire_format.h"

namespace velquora::driver {

using addin::VarArrayData;
using addin::Variant;
namespace p = protocol;

namespace {

struct SettingName {
  const char16_t* en;
  const char16_t* ru;
  const char16_t* def;
};

const SettingName kSettings[] = {
    {u"IPAddress", u"IPАдрес", u""},
    {u"IPPort", u"IPПорт", u"0"},
    {u"CommodityFont", u"ШрифтНаименования", u"0"},
    {u"IngredientFont", u"ШрифтИнгридиентов", u"0"},
    {u"SpecMessageFont", u"ШрифтСообщений", u"0"},
    {u"CompanyFont", u"ШрифтМагазина", u"0"},
    {u"LabelFormatNumber", u"НомерФорматаЭтикетки", u"17"},
    {u"ExtLogEnabled", u"ВестиЛогОбмена", u"false"},
};

const MethodName kScaleMethods[] = {
    {u"ВыгрузитьТовары", u"UploadGoods", 3},   {u"ВыгрузитьГруппы", u"UploadGroups", 1},
    {u"ВыгрузитьМагазины", u"UploadShops", 1}, {u"ОчиститьТовары", u"ClearGoods", 1},
    {u"ОчиститьГруппы", u"ClearGroups", 0},    {u"УдалитьТовар", u"DeleteGood", 1},
    {u"УдалитьГруппу", u"DeleteGroup", 1},     {u"ВыгрузитьДанные", u"UploadData", 2},
};

// The top-level element must be named `root` exactly.
void CheckRoot(const HostDocument& doc, std::string_view root) {
  if (doc.RootName() != root) throw Error(ErrorKind::kInvalid, "Не найден корневой узел");
}

}  // namespace

TDriver::TDriver(std::unique_ptr<protocol::TcpClient> client)
    : link_(log::LogWriter::Instance(), std::move(client)) {}

void TDriver::RegisterMethods() {
  try {
    TScaleOfflineDriver::RegisterMethods();
    const auto& m = kScaleMethods;
    auto parsed = [this](std::function<void(const HostDocument&)> work, std::size_t arg) {
      return [this, work, arg](VarArrayData& params) {
        return ScaleMethod([&] {
          std::u16string scratch;
          HostDocument doc = HostDocument::Parse(TextParam(params, arg, scratch));
          Reconnect();
          work(doc);
        });
      };
    };
    mt_Add(m[0].ru, m[0].en, m[0].params,
           [this](VarArrayData& a) { return UploadGoodsHandler(a); });
    mt_Add(m[1].ru, m[1].en, m[1].params, parsed([this](const auto& d) { UploadGroups(d); }, 0));
    mt_Add(m[2].ru, m[2].en, m[2].params, parsed([this](const auto& d) { UploadShops(d); }, 0));
    mt_Add(m[3].ru, m[3].en, m[3].params, [this](VarArrayData& a) { return ClearGoodsHandler(a); });
    mt_Add(m[4].ru, m[4].en, m[4].params, [this](VarArrayData&) {
      return ScaleMethod([&] {
        Reconnect();
        link_.Run(protocol::TableClear(p::kTableMainGroup));
      });
    });
    mt_Add(m[5].ru, m[5].en, m[5].params, [this](VarArrayData& a) {
      return ScaleMethod([&] {
        Reconnect();
        link_.Run(protocol::RecordDelete(
            p::kTablePlu, RecordNumberArgument(Param(a, 0), "Некорректный номер товара")));
      });
    });
    mt_Add(m[6].ru, m[6].en, m[6].params, [this](VarArrayData& a) {
      return ScaleMethod([&] {
        Reconnect();
        link_.Run(protocol::RecordDelete(
            p::kTableMainGroup, RecordNumberArgument(Param(a, 0), "Некорректный номер группы")));
      });
    });
    mt_Add(m[7].ru, m[7].en, m[7].params, [this](VarArrayData& a) {
      return ScaleMethod([&] {
        std::u16string scratch;
        const std::u16string& data = TextParam(a, 1, scratch);
        Reconnect();
        UploadData(Param(a, 0).ToText(), data);
      });
    });
  } catch (...) {
    log::LogWriter::Instance().Write(TypeName(), CurrentErrorText(), LogLevel::kError);
  }
}

void TDriver::RegisterSettings() {
  try {
    TScaleOfflineDriver::RegisterSettings();
    for (const auto& s : kSettings) pt_Add(s.ru, s.en, false, Variant::String(s.def));
  } catch (...) {
    log::LogWriter::Instance().Write(TypeName(), CurrentErrorText(), LogLevel::kError);
  }
}

std::string TDriver::LogNameFromAddress(const std::u16string& address) {
  std::u16string name;
  for (char16_t c : address) {
    if (c == u'.') c = u'_';
    bool keep = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
                c == u'-' || c == u'_' || (c >= 0x0400 && c <= 0x04FF);
    if (keep) name += c;
  }
  return ToUtf8(name);
}

void TDriver::Open() {
  TScaleOfflineDriver::Open();
  // Prices are always read with "." (see goods_reader), so no separator needs setting here.
  auto& log = log::LogWriter::Instance();
  log.SetLogFileName(LogNameFromAddress(GetSettingValueStr(u"IPAddress")));
  log.SetLogDetail(GetSettingValueBool(u"LogEnabled") ? 3 : 0);
  link_.set_exchange_log(GetSettingValueBool(u"ExtLogEnabled"));
  label_.commodity_font = GetSettingValueInt(u"CommodityFont");
  label_.ingredient_font = GetSettingValueInt(u"IngredientFont");
  label_.company_font = GetSettingValueInt(u"CompanyFont");
  label_.spec_message_font = GetSettingValueInt(u"SpecMessageFont");
  label_.label_format = GetSettingValueInt(u"LabelFormatNumber");
  Reconnect();
}

void TDriver::Close() {
  link_.Close();
  TScaleOfflineDriver::Close();
}

void TDriver::DeviceTest(std::u16string& description, std::u16string& extra) {
  description.clear();
  extra.clear();
  const bool was_enabled = Enabled();
  if (!was_enabled) {
    try {
      Open();
    } catch (...) {
      Close();
      throw;
    }
  }
  description = u"Весы подключены";
  if (!was_enabled) Close();
}

void TDriver::Reconnect() {
  link_.Close();
  std::u16string address = GetSettingValueStr(u"IPAddress");
  std::int32_t port = GetSettingValueInt(u"IPPort");
  link_.Connect(address, port);
}

Variant TDriver::ScaleMethod(const std::function<void()>& work) {
  return HandlerFrame([&] {
    CheckEnabled();
    work();
  });
}

Variant TDriver::UploadGoodsHandler(VarArrayData& params) {
  return ScaleMethod([&] {
    std::u16string scratch;
    HostDocument doc = HostDocument::Parse(TextParam(params, 1, scratch));
    Reconnect();
    UploadGoods(doc);
  });
}

Variant TDriver::ClearGoodsHandler(VarArrayData&) {
  return ScaleMethod([&] {
    Reconnect();
    link_.Run(protocol::TableClear(p::kTablePlu));
  });
}

bool TDriver::UploadSystemSettings(const std::u16string& document) {
  return ScaleMethod([&] {
           HostDocument doc = HostDocument::Parse(document);
           Reconnect();
           CheckRoot(doc, "SystemSettings");
           link_.Run(protocol::SystemSettingsWrite(doc.Root().Text(HostAttr::DateTime)));
         })
      .bool_value();
}

UploadProgress::Sink TDriver::StatusLine() {
  return {[this](const std::u16string& text) { SetStatusLine(text); },
          [this] { ResetStatusLine(); }};
}

// Each "Record" child of the top-level "Table", in document order. A record is prepared (read,
// checked, encoded) while the scale stores the one before it: the answer of record k is judged
// after record k+1 is prepared and before k+1 is sent, so a record that fails its checks is
// reported only after the record before it was judged, and nothing of it is sent.
void TDriver::WriteRecords(const HostDocument& doc, const char16_t* what,
                           const PrepareRecord& prepare) {
  CheckRoot(doc, "Table");
  const std::size_t total = doc.RecordCount();
  UploadProgress progress(what, total, StatusLine(), ProgressClock);
  std::size_t accepted = 0;
  auto judge_previous = [&] {
    if (!link_.write_in_flight()) return;
    link_.FinishWrite();
    progress.Advance(++accepted);
  };
  for (std::size_t i = 0; i < total; ++i) {
    const HostRecord r = doc.Record(i);
    protocol::Command command;
    try {
      command = prepare(r);
    } catch (...) {
      judge_previous();  // its refusal, if any, is the failure the host hears of
      throw;
    }
    // Judges the record before (its refusal, if any, is the failure) and sends this one.
    const bool judged_previous = link_.write_in_flight();
    link_.StartWrite(std::move(command));
    if (judged_previous) progress.Advance(++accepted);
  }
  judge_previous();
  if (total > 1) link_.ExpectQuiet();
}

void TDriver::UploadGoods(const HostDocument& doc) {
  WriteRecords(doc, u"товаров", [this](const HostRecord& r) {
    return protocol::PluWrite(ReadGoodsRecord(r), label_);
  });
}

void TDriver::UploadGroups(const HostDocument& doc) {
  WriteRecords(doc, u"групп", [](const HostRecord& r) {
    GroupRecord g = ReadGroupRecord(r);
    return protocol::GroupWrite(g.code, g.name);
  });
}

void TDriver::UploadShops(const HostDocument& doc) {
  WriteRecords(doc, u"магазинов", [this](const HostRecord& r) {
    GroupRecord s = ReadShopRecord(r);
    return protocol::ShopWrite(s.code, s.name, label_);
  });
}

std::int64_t TDriver::RecordNumberArgument(const Variant& value, const char* message) {
  std::int32_t number = SettingToInt(value);
  if (number < 0 || number > p::kMaxBcd4)
    throw Error(ErrorKind::kInvalid, std::string(message) + ": " + std::to_string(number));
  return number;
}

void TDriver::UploadData(const std::u16string& file_name, const std::u16string& data) {
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
  // lie in the host's text; each request is put together only when it is sent.
  std::vector<std::u16string_view> records;
  std::u16string_view rest = data;
  do {
    // Characters 9 to 12 of a record are its size in bytes.
    std::int64_t size = rest.size() > 8 ? protocol::NumberFromHex(rest.substr(8, 4)) : 0;
    if (!rest.empty() && (size == 0 || static_cast<std::int64_t>(rest.size()) < 2 * size)) {
      throw Error(ErrorKind::kInvalid, "Некорректные входные данные");
    }
    std::size_t length = rest.empty() ? 0 : static_cast<std::size_t>(2 * size);
    records.push_back(rest.substr(0, length));
    rest.remove_prefix(length);
  } while (!rest.empty());
  if (!protocol::IsHexText(prefix)) throw Error(ErrorKind::kInvalid, "Некорректные входные данные");
  for (const auto& record : records) {
    if (!protocol::IsHexText(record))
      throw Error(ErrorKind::kInvalid, "Некорректные входные данные");
  }
  UploadProgress progress(u"данных", records.size(), StatusLine(), ProgressClock);
  std::size_t sent = 0;
  std::u16string request;
  for (const auto& record : records) {
    request.assign(prefix).append(record);
    link_.Run(protocol::RawCommand(request));
    progress.Advance(++sent);
  }
  if (records.size() > 1) link_.ExpectQuiet();
}

}  // namespace velquora::driver
