#include "device/records.h"

#include "common/error.h"
#include "common/text.h"
#include "device/protocol.h"

namespace velquora::device {

namespace p = protocol;

TFont SetDefFont() {
  return TFont{};
}

void CheckRange(std::int64_t value, std::int64_t max, const char* field) {
  if (value < 0 || value > max) {
    throw Error(ErrorKind::kInvalid, "Значение " + std::to_string(value) +
                                         " не помещается в поле \"" + field + "\" (допустимо 0.." +
                                         std::to_string(max) + ")");
  }
}

ByteString BuildTextBlock(std::u16string_view text, int max_lines, int default_font,
                          const TFont& fonts, const char* block) {
  ByteString bytes = TextToCP866(text);
  ByteString out;
  if (!bytes.empty()) {
    const std::int32_t line_fonts[4] = {fonts.F1, fonts.F2, fonts.F3, fonts.F4};
    std::size_t start = 0;
    for (int line = 1; line <= max_lines; ++line) {
      std::size_t sep = bytes.find("||", start);
      std::string_view piece(bytes.data() + start,
                             (sep == ByteString::npos ? bytes.size() : sep) - start);
      int font = line <= 4 ? line_fonts[line - 1] : -1;
      if (font < 0 || font > p::kMaxFont) font = default_font;
      if (font < 0 || font > p::kMaxFont)
        throw Error(ErrorKind::kInvalid, "Некорректный номер шрифта");
      if (piece.size() > static_cast<std::size_t>(p::kMaxLineBytes)) {
        throw Error(ErrorKind::kInvalid, std::string("Строка ") + std::to_string(line) +
                                             " текста \"" + block + "\" длиннее " +
                                             std::to_string(p::kMaxLineBytes) + " байт");
      }
      out += IntToBCD(font, 1);
      out += static_cast<char>(piece.size());
      out += piece;
      out += static_cast<char>(p::kLineEnd);
      if (sep == ByteString::npos) break;
      start = sep + 2;
    }
  }
  if (out.empty()) return ByteString(1, static_cast<char>(p::kBlockEnd));
  out.back() = static_cast<char>(p::kBlockEnd);
  return out;
}

ByteString TPLURecord::Bytes() const {
  ByteString out;
  out.reserve(64 + Commodity.size() + Ingredient.size() + SpecMessage.size());
  for (const ByteString* f : {&PLU_Number,     &PLU_RecordSize, &PLU_Status,
                              &PLU_Status2,    &Unit_Price,     &Label_Format1,
                              &Barcode_Format, &EAN_Data,       &Main_Group_Code,
                              &Sell_By_Date,   &Sell_By_Time,   &Used_By_Date,
                              &Packed_Date,    &Packed_Time,    &PLU_Tare,
                              &Image1,         &Image2_10,      &Commodity,
                              &Ingredient,     &SpecMessage,    &BCC}) {
    out += *f;
  }
  return out;
}

PluStatus PluStatusBytes(bool weight_goods, bool has_tare) {
  // Fixed bits: byte 1 = 0111 010x, status-2 byte 1 = 0x0 1110 1 with bit 6 the tare flag.
  std::uint8_t b1 = SetStatusBit(0x74, 0, !weight_goods);
  std::uint8_t s21 = SetStatusBit(0x1D, 6, has_tare);
  return {b1, 0x00, s21, 0xE0, 0x5F};
}

namespace {

// Hundredths from ten-thousandths, halves to the even neighbour.
std::int64_t PriceInHundredths(std::int64_t ten_thousandths) {
  std::int64_t q = ten_thousandths / 100, r = ten_thousandths % 100;
  if (r > 50 || (r == 50 && q % 2 == 1)) ++q;
  return q;
}

std::int64_t EanNumber(std::u16string_view barcode, bool weight_goods) {
  std::u16string text(barcode.substr(0, 7));
  text += u"00000";
  text += weight_goods ? u"01" : u"02";
  std::int64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9')
      throw Error(ErrorKind::kInvalid, "'" + ToUtf8(text) + "' is not a valid integer value");
    value = value * 10 + (c - u'0');
  }
  return value;
}

}  // namespace

TPLURecord BuildPluRecord(const PluValues& v, const LabelSettings& s) {
  if (v.price < 0 || PriceInHundredths(v.price) > p::kMaxBcd4)
    throw Error(ErrorKind::kInvalid, "Некорректная цена");
  CheckRange(v.plu, p::kMaxBcd4, "Номер PLU");
  CheckRange(v.main_group, p::kMaxBcd2, "Код группы");
  CheckRange(v.sell_by_date, p::kMaxBcd2, "Срок продажи в днях");
  CheckRange(v.sell_by_time, p::kMaxBcd2, "Срок продажи в часах и минутах");
  CheckRange(v.used_by_date, p::kMaxBcd2, "UsedByDate");
  CheckRange(v.packed_date, p::kMaxBcd2, "PackedDate");
  CheckRange(v.packed_time, p::kMaxBcd2, "PackedTime");
  CheckRange(v.tare, p::kMaxBcd2, "Вес тары");
  CheckRange(s.label_format, p::kMaxByte, "Номер формата этикетки");

  const bool has_tare = v.tare != 0;
  PluStatus st = PluStatusBytes(v.weight_goods, has_tare);
  TPLURecord r;
  r.PLU_Number = IntToBCD(v.plu, 4);
  r.PLU_Status = {static_cast<char>(st.byte1), static_cast<char>(st.byte2)};
  r.PLU_Status2 = {static_cast<char>(st.status2_1), static_cast<char>(st.status2_2),
                   static_cast<char>(st.status2_3)};
  r.Unit_Price = IntToBCD(PriceInHundredths(v.price), 4);
  r.Label_Format1 = IntToBytesLE(static_cast<std::uint64_t>(s.label_format), 1);
  r.Barcode_Format = ByteString(1, static_cast<char>(p::kPluBarcodeFormat));
  r.EAN_Data = IntToBCD(EanNumber(v.barcode, v.weight_goods), p::kPluEanBytes);
  r.Main_Group_Code = IntToBCD(v.main_group, 2);
  r.Sell_By_Date = IntToBCD(v.sell_by_date, 2);
  r.Sell_By_Time = IntToBCD(v.sell_by_time, 2);
  r.Used_By_Date = IntToBCD(v.used_by_date, 2);
  r.Packed_Date = IntToBCD(v.packed_date, 2);
  r.Packed_Time = IntToBCD(v.packed_time, 2);
  if (has_tare) r.PLU_Tare = IntToBCD(v.tare, 2);
  r.Image1 = ByteString(1, '\0');
  r.Image2_10 = ByteString(9, '\0');
  r.Commodity =
      BuildTextBlock(v.name, p::kMaxNameLines, s.commodity_font, v.name_fonts, "Наименование");
  r.Ingredient = BuildTextBlock(v.ingredients, p::kMaxIngredientLines, s.ingredient_font,
                                SetDefFont(), "Состав");
  r.SpecMessage = BuildTextBlock(v.spec_message, p::kMaxSpecMessageLines, s.spec_message_font,
                                 SetDefFont(), "Спецсообщение");
  r.BCC = ByteString(1, '\0');
  std::size_t size = p::kPluFixedBytes + (has_tare ? p::kPluTareBytes : 0) + r.Commodity.size() +
                     r.Ingredient.size() + r.SpecMessage.size();
  if (size > 0xFFFF)
    throw Error(ErrorKind::kInvalid, "Запись PLU " + std::to_string(v.plu) + " длиннее 65535 байт");
  r.PLU_RecordSize = IntToBytesBE(size, 2);
  return r;
}

namespace {

ByteString Head(std::uint8_t table, std::int64_t record, std::size_t record_size,
                const char* field) {
  CheckRange(record, p::kMaxBcd4, field);
  if (record_size > 0xFFFF)
    throw Error(ErrorKind::kInvalid, std::string("Запись \"") + field + "\" длиннее 65535 байт");
  ByteString out{static_cast<char>(p::kWrite), static_cast<char>(table)};
  out += IntToBCD(record, 4);
  out += IntToBytesBE(record_size, 2);
  return out;
}

}  // namespace

ByteString GroupFrame(std::int64_t code, std::u16string_view name) {
  ByteString text = TextToCP866(name);
  ByteString out = Head(p::kTableMainGroup, code, text.size() + 7, "Номер группы");
  out += '\0';
  return out + text;
}

ByteString ShopFrame(std::int64_t code, std::u16string_view name, const LabelSettings& s) {
  CheckRange(s.label_format, 0xFFFF, "Номер формата этикетки");
  ByteString block =
      BuildTextBlock(name, p::kMaxShopLines, s.company_font, SetDefFont(), "Название магазина");
  ByteString out = Head(p::kTableShop, code, block.size() + 8, "Номер магазина");
  out += IntToBytesBE(static_cast<std::uint64_t>(s.label_format), 2);
  return out + block;
}

ByteString ImageFrame(std::int64_t image, std::u16string_view data) {
  ByteString bytes = TextToCP866(data);
  ByteString out = Head(p::kTableImage, image, bytes.size() + 7, "Номер картинки");
  out += '\0';
  return out + bytes;
}

ByteString GroupImageFrame(std::int64_t group, std::int64_t image) {
  CheckRange(image, p::kMaxBcd2, "Номер картинки");
  ByteString out = Head(p::kTableGroupImage, group, p::kGroupImageRecordBytes, "Номер группы");
  return out + IntToBCD(image, 2);
}

ByteString PresetKeyFrame(std::int64_t preset, std::int64_t key, std::int64_t status,
                          std::int64_t image, std::u16string_view name) {
  CheckRange(key, p::kMaxBcd4, "Номер клавиши");
  CheckRange(status, p::kMaxByte, "Статус клавиши");
  CheckRange(image, 0xFFFFFFFFll, "Номер картинки");
  if (name.size() > static_cast<std::size_t>(p::kPresetNameChars)) {
    throw Error(ErrorKind::kInvalid, "Наименование клавиши длиннее 32 символов");
  }
  std::u16string padded(name);
  padded.resize(p::kPresetNameChars, u' ');
  ByteString out =
      Head(p::kTablePresetKey, preset, p::kPresetKeyRecordBytes, "Номер клавиши быстрого доступа");
  out += IntToBCD(key, 4);
  out += IntToBytesBE(static_cast<std::uint64_t>(status), 1);
  out += '\0';
  out += TextToCP866(padded);
  out += ByteString(4, '\0');
  out += IntToBCD(32, 32);
  out += '\0';
  out += IntToBytesLE(static_cast<std::uint64_t>(image), 4);
  out += ByteString(4, '\0');
  return out;
}

ByteString SystemSettingsFrame(std::u16string_view t) {
  auto digits = [&](std::initializer_list<int> positions, std::int64_t& out) {
    out = 0;
    for (int pos : positions) {
      if (static_cast<std::size_t>(pos) > t.size() || t[pos - 1] < u'0' || t[pos - 1] > u'9')
        return false;
      out = out * 10 + (t[pos - 1] - u'0');
    }
    return true;
  };
  std::int64_t date = 0, time = 0;
  if (!digits({9, 10, 6, 7, 3, 4}, date) || !digits({12, 13, 15, 16}, time)) {
    throw Error(ErrorKind::kInvalid, "Некорректная системная дата");
  }
  ByteString out{static_cast<char>(p::kWrite), static_cast<char>(p::kTableSystem)};
  out += IntToBytesBE(255, 4);
  out += '\0';
  out += IntToBCD(date, 3);
  out += ByteString(2, '\0');
  out += IntToBCD(time, 2);
  return out;
}

ByteString RecordNumberFrame(std::uint8_t command, std::uint8_t table, std::int64_t record) {
  CheckRange(record, p::kMaxBcd4, "Номер записи");
  ByteString out{static_cast<char>(command), static_cast<char>(table)};
  return out + IntToBCD(record, 4);
}

ByteString ClearFrame(std::uint8_t table) {
  return ByteString{static_cast<char>(p::kClear), static_cast<char>(table)};
}

}  // namespace velquora::device
