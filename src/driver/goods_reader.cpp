#include "driver/goods_reader.h"

#include <charconv>

#include "common/error.h"
#include "common/text.h"
#include "device/protocol.h"
#include "driver/host_xml.h"
#include "driver/utilities.h"

namespace velquora::driver {

namespace p = device::protocol;

namespace {

// Integer attributes are read straight from the parser's UTF-8 text: one record has a dozen of
// them and a goods document may have tens of thousands of records.
std::int32_t IntText(const char* utf8, std::int32_t absent = kAbsent) {
  if (!utf8) return absent;
  std::string_view text = TrimControl(std::string_view(utf8));
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return absent;
  return value;
}

std::int32_t IntAttr(const pugi::xml_node& node, const char* name, std::int32_t absent = kAbsent) {
  pugi::xml_attribute a = node.attribute(name);
  return IntText(a ? a.value() : nullptr, absent);
}

// The attributes of a goods record, found in one pass over the record's attributes instead of
// a search by name for each of them. The first attribute of a name counts, as in a search.
enum GoodsField {
  kPLU,
  kCode,
  kEANData,
  kName,
  kGroupCode,
  kPrice,
  kSellByDate,
  kSellByTime,
  kUsedByDate,
  kPackedDate,
  kPackedTime,
  kPLUTare,
  kIsWeightGoods,
  kDescription,
  kSpecMessage,
  kF1,
  kF2,
  kF3,
  kF4,
  kGoodsFieldCount
};
constexpr std::string_view kGoodsFieldNames[kGoodsFieldCount] = {"PLU",
                                                                 "Code",
                                                                 "EANData",
                                                                 "Name",
                                                                 "GroupCode",
                                                                 "Price",
                                                                 "SellByDate",
                                                                 "SellByTime",
                                                                 "UsedByDate",
                                                                 "PackedDate",
                                                                 "PackedTime",
                                                                 "PLUTare",
                                                                 "IsWeightGoods",
                                                                 "Description",
                                                                 "SpecMessage",
                                                                 "F1",
                                                                 "F2",
                                                                 "F3",
                                                                 "F4"};

struct GoodsFields {
  const char* value[kGoodsFieldCount] = {};  // null: absent
  const char* operator[](GoodsField f) const { return value[f]; }
};

GoodsFields CollectGoodsFields(const pugi::xml_node& record) {
  GoodsFields fields;
  for (pugi::xml_attribute a = record.first_attribute(); a; a = a.next_attribute()) {
    std::string_view name = a.name();
    for (int f = 0; f < kGoodsFieldCount; ++f) {
      if (name == kGoodsFieldNames[f]) {
        if (!fields.value[f]) fields.value[f] = a.value();
        break;
      }
    }
  }
  return fields;
}

std::u16string Text(const char* value) {
  return value ? ToUtf16(value) : std::u16string();
}

// A required number: absent or outside its field fails with the field's own message.
std::int32_t Required(std::int32_t value, std::int64_t max, const char* message) {
  if (value == kAbsent || value < 0 || value > max) throw Error(message);
  return value;
}

// An optional date or time field: absent or unreadable gives 0, a number that does not fit fails.
std::int32_t Optional(std::int32_t value, const char* name) {
  if (value == kAbsent) return 0;
  if (value < 0 || value > p::kMaxBcd2) {
    throw Error(std::string("Некорректное значение атрибута ") + name + ": " +
                std::to_string(value));
  }
  return value;
}

// Price text: the first "," becomes ".", then read with "." whatever the locale.
std::int64_t PriceText(const char* value) {
  if (!value) return VarToCurrDef(addin::Variant::Null(), std::int64_t{kAbsent} * 10000);
  std::u16string text = ToUtf16(value);
  if (auto comma = text.find(u','); comma != std::u16string::npos) text[comma] = u'.';
  return VarToCurrDef(addin::Variant::String(std::move(text)), std::int64_t{kAbsent} * 10000);
}

}  // namespace

device::PluValues ReadGoodsRecord(const pugi::xml_node& r) {
  const GoodsFields a = CollectGoodsFields(r);
  std::int32_t plu = IntText(a[kPLU]);
  std::int32_t code = IntText(a[kCode]);
  std::u16string ean = Text(a[kEANData]);
  std::u16string name = Text(a[kName]);
  std::int32_t group = IntText(a[kGroupCode]);
  std::int64_t price = PriceText(a[kPrice]);
  std::int32_t sell_by_date = IntText(a[kSellByDate]);
  std::int32_t sell_by_time = IntText(a[kSellByTime]);
  std::int32_t used_by_date = IntText(a[kUsedByDate]);
  std::int32_t packed_date = IntText(a[kPackedDate]);
  std::int32_t packed_time = IntText(a[kPackedTime]);
  std::int32_t tare = IntText(a[kPLUTare]);
  bool weight = a[kIsWeightGoods]
                    ? VarToBoolDef(addin::Variant::String(ToUtf16(a[kIsWeightGoods])), true)
                    : true;

  if (ean.size() < 7) throw Error("Длина данных штрихкода меньше 7 символов");
  device::PluValues v;
  v.plu = Required(plu, p::kMaxBcd4, "Некорректный номер товара");
  if (code == kAbsent) throw Error("Некорректный код товара");
  v.main_group = Required(group, p::kMaxBcd2, "Некорректный код группы товара");
  if (price == std::int64_t{kAbsent} * 10000 || price < 0 || price > p::kMaxBcd4 * 100 + 49) {
    throw Error("Некорректная цена");
  }
  v.price = price;
  v.sell_by_date = Required(sell_by_date, p::kMaxBcd2, "Некорректный срок продажи в днях");
  v.sell_by_time =
      Required(sell_by_time, p::kMaxBcd2, "Некорректный срок продажи в часах и минутах");
  v.tare = Required(tare, p::kMaxBcd2, "Некорректный вес тары");
  v.used_by_date = Optional(used_by_date, "UsedByDate");
  v.packed_date = Optional(packed_date, "PackedDate");
  v.packed_time = Optional(packed_time, "PackedTime");
  v.barcode = std::move(ean);
  v.name = std::move(name);
  v.ingredients = Text(a[kDescription]);
  v.spec_message = Text(a[kSpecMessage]);
  v.weight_goods = weight;
  v.name_fonts = {IntText(a[kF1], -1), IntText(a[kF2], -1), IntText(a[kF3], -1),
                  IntText(a[kF4], -1)};
  return v;
}

GroupRecord ReadGroupRecord(const pugi::xml_node& r) {
  GroupRecord g;
  g.code = Required(IntAttr(r, "Code"), p::kMaxBcd4, "Некорректный номер группы");
  std::u16string image = AttributeText(r, "ImageNumber");
  if (!image.empty() && IntAttr(r, "ImageNumber") == kAbsent) {
    throw Error("Некорректный номер картинки");
  }
  g.name = AttributeText(r, "Name");
  return g;
}

GroupRecord ReadShopRecord(const pugi::xml_node& r) {
  GroupRecord s;
  s.code = Required(IntAttr(r, "Code"), p::kMaxBcd4, "Некорректный номер магазина");
  s.name = AttributeText(r, "Name");
  return s;
}

}  // namespace velquora::driver
