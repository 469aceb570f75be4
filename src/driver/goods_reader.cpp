#include "driver/goods_reader.h"

#include <charconv>

#include "common/error.h"
#include "common/text.h"
#include "driver/attribute_values.h"
#include "protocol/wire_format.h"

namespace velquora::driver {

namespace p = protocol;

namespace {

// A price that is absent or unreadable, in ten-thousandths.
constexpr std::int64_t kNoAmount = std::int64_t{kNoNumber} * 10000;

// Integer attributes are read straight from the parser's UTF-8 text: one record has a dozen of
// them and a goods document may have tens of thousands of records.
std::int32_t IntAttr(const HostRecord& record, HostAttr name, std::int32_t absent = kNoNumber) {
  std::optional<std::string_view> a = record.Get(name);
  if (!a) return absent;
  std::string_view text = TrimControl(*a);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return absent;
  return value;
}

// Fails with `message`, naming the attribute at fault for the record's location.
[[noreturn]] void Invalid(HostAttr attr, const std::string& message) {
  Error e(ErrorKind::kInvalid, message);
  e.context().field = HostAttrName(attr);
  throw e;
}

// A required number: absent or outside its field fails with the field's own message.
std::int32_t Required(std::int32_t value, std::int64_t max, HostAttr attr, const char* message) {
  if (value == kNoNumber || value < 0 || value > max) Invalid(attr, message);
  return value;
}

// An optional date or time field: absent or unreadable gives 0, a number that does not fit fails.
std::int32_t Optional(std::int32_t value, HostAttr attr) {
  if (value == kNoNumber) return 0;
  if (value < 0 || value > p::kMaxBcd2) {
    Invalid(attr, "Некорректное значение атрибута " + std::string(HostAttrName(attr)) + ": " +
                      std::to_string(value));
  }
  return value;
}

// Price text: the first "," becomes ".", then read with "." whatever the locale.
std::int64_t PriceAttr(const HostRecord& record) {
  std::optional<std::string_view> price = record.Get(HostAttr::kPrice);
  if (!price) return ReadAmount(addin::Variant::Null(), kNoAmount);
  std::u16string text = ToUtf16(*price);
  if (auto comma = text.find(u','); comma != std::u16string::npos) text[comma] = u'.';
  return ReadAmount(addin::Variant::String(text), kNoAmount);
}

// "True" or "False" in any letter case; absent or anything else is true.
bool WeightFlag(const HostRecord& r) {
  std::optional<std::string_view> flag = r.Get(HostAttr::kIsWeightGoods);
  return ReadFlag(flag ? addin::Variant::String(ToUtf16(*flag)) : addin::Variant::Null(), true);
}

}  // namespace

protocol::PluValues ReadGoodsRecord(const HostRecord& r) {
  std::int32_t plu = IntAttr(r, HostAttr::kPlu);
  std::int32_t code = IntAttr(r, HostAttr::kCode);
  std::u16string ean = r.Text(HostAttr::kEanData);
  std::u16string name = r.Text(HostAttr::kName);
  std::int32_t group = IntAttr(r, HostAttr::kGroupCode);
  std::int64_t price = PriceAttr(r);
  std::int32_t sell_by_date = IntAttr(r, HostAttr::kSellByDate);
  std::int32_t sell_by_time = IntAttr(r, HostAttr::kSellByTime);
  std::int32_t used_by_date = IntAttr(r, HostAttr::kUsedByDate);
  std::int32_t packed_date = IntAttr(r, HostAttr::kPackedDate);
  std::int32_t packed_time = IntAttr(r, HostAttr::kPackedTime);
  std::int32_t tare = IntAttr(r, HostAttr::kPluTare);
  bool weight = WeightFlag(r);

  if (ean.size() < 7) Invalid(HostAttr::kEanData, "Длина данных штрихкода меньше 7 символов");
  protocol::PluValues v;
  v.plu = Required(plu, p::kMaxBcd4, HostAttr::kPlu, "Некорректный номер товара");
  if (code == kNoNumber) Invalid(HostAttr::kCode, "Некорректный код товара");
  v.main_group =
      Required(group, p::kMaxBcd2, HostAttr::kGroupCode, "Некорректный код группы товара");
  if (price == kNoAmount || price < 0 || price > p::kMaxBcd4 * 100 + 49) {
    Invalid(HostAttr::kPrice, "Некорректная цена");
  }
  v.price = price;
  v.sell_by_date = Required(sell_by_date, p::kMaxBcd2, HostAttr::kSellByDate,
                            "Некорректный срок продажи в днях");
  v.sell_by_time = Required(sell_by_time, p::kMaxBcd2, HostAttr::kSellByTime,
                            "Некорректный срок продажи в часах и минутах");
  v.tare = Required(tare, p::kMaxBcd2, HostAttr::kPluTare, "Некорректный вес тары");
  v.used_by_date = Optional(used_by_date, HostAttr::kUsedByDate);
  v.packed_date = Optional(packed_date, HostAttr::kPackedDate);
  v.packed_time = Optional(packed_time, HostAttr::kPackedTime);
  v.barcode = std::move(ean);
  v.name = std::move(name);
  v.ingredients = r.Text(HostAttr::kDescription);
  v.spec_message = r.Text(HostAttr::kSpecMessage);
  v.weight_goods = weight;
  v.name_fonts = {IntAttr(r, HostAttr::kF1, -1), IntAttr(r, HostAttr::kF2, -1),
                  IntAttr(r, HostAttr::kF3, -1), IntAttr(r, HostAttr::kF4, -1)};
  return v;
}

GroupRecord ReadGroupRecord(const HostRecord& r) {
  GroupRecord g;
  g.code = Required(IntAttr(r, HostAttr::kCode), p::kMaxBcd4, HostAttr::kCode,
                    "Некорректный номер группы");
  std::u16string image = r.Text(HostAttr::kImageNumber);
  if (!image.empty() && IntAttr(r, HostAttr::kImageNumber) == kNoNumber) {
    Invalid(HostAttr::kImageNumber, "Некорректный номер картинки");
  }
  g.name = r.Text(HostAttr::kName);
  return g;
}

GroupRecord ReadShopRecord(const HostRecord& r) {
  GroupRecord s;
  s.code = Required(IntAttr(r, HostAttr::kCode), p::kMaxBcd4, HostAttr::kCode,
                    "Некорректный номер магазина");
  s.name = r.Text(HostAttr::kName);
  return s;
}

}  // namespace velquora::driver
