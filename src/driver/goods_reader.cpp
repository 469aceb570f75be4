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
std::int32_t IntAttr(const pugi::xml_node& node, const char* name, std::int32_t absent = kAbsent) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) return absent;
  std::string_view text = TrimControl(std::string_view(a.value()));
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int32_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return absent;
  return value;
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
std::int64_t PriceAttr(const pugi::xml_node& node) {
  addin::Variant value = AttributeValue(node, "Price");
  if (value.IsString()) {
    std::u16string text = value.string_value();
    if (auto comma = text.find(u','); comma != std::u16string::npos) text[comma] = u'.';
    value = addin::Variant::String(text);
  }
  return VarToCurrDef(value, std::int64_t{kAbsent} * 10000);
}

}  // namespace

device::PluValues ReadGoodsRecord(const pugi::xml_node& r) {
  std::int32_t plu = IntAttr(r, "PLU");
  std::int32_t code = IntAttr(r, "Code");
  std::u16string ean = AttributeText(r, "EANData");
  std::u16string name = AttributeText(r, "Name");
  std::int32_t group = IntAttr(r, "GroupCode");
  std::int64_t price = PriceAttr(r);
  std::int32_t sell_by_date = IntAttr(r, "SellByDate");
  std::int32_t sell_by_time = IntAttr(r, "SellByTime");
  std::int32_t used_by_date = IntAttr(r, "UsedByDate");
  std::int32_t packed_date = IntAttr(r, "PackedDate");
  std::int32_t packed_time = IntAttr(r, "PackedTime");
  std::int32_t tare = IntAttr(r, "PLUTare");
  bool weight = VarToBoolDef(AttributeValue(r, "IsWeightGoods"), true);

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
  v.ingredients = AttributeText(r, "Description");
  v.spec_message = AttributeText(r, "SpecMessage");
  v.weight_goods = weight;
  v.name_fonts = {IntAttr(r, "F1", -1), IntAttr(r, "F2", -1), IntAttr(r, "F3", -1),
                  IntAttr(r, "F4", -1)};
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
