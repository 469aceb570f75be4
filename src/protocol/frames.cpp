#include "protocol/frames.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "common/error.h"
#include "common/text.h"
#include "protocol/wire_format.h"

namespace velquora::protocol {

char* FrameList::Room(std::size_t size) {
  if (blocks_.empty() || block_size_ - block_used_ < size) {
    // A frame larger than a block (a PLU record may take 64 KB) gets a block of its own size.
    block_size_ = std::max(kBlockBytes, size);
    blocks_.push_back(std::unique_ptr<char[]>(new char[block_size_]));
    block_used_ = 0;
  }
  char* at = blocks_.back().get() + block_used_;
  block_used_ += size;
  return at;
}

void FrameList::Add(const Command& command) {
  const std::string_view name = command.record ? std::string_view(command.record->name) : "";
  // The builders keep a frame under 64 KB and a name under three times that.
  if (command.frame.size() >= kNoRecord || name.size() >= kNoRecord - command.frame.size())
    throw std::length_error("frame");
  char* at = Room(command.frame.size() + name.size());
  std::memcpy(at, command.frame.data(), command.frame.size());
  if (!name.empty()) std::memcpy(at + command.frame.size(), name.data(), name.size());
  entries_.push_back({at, static_cast<std::uint32_t>(command.frame.size()),
                      command.record ? static_cast<std::uint32_t>(name.size()) : kNoRecord,
                      command.record ? command.record->number : 0,
                      command.record ? command.record->key : 0});
}

bool FrameList::Record(std::size_t index, RecordName& record) const {
  const Entry& e = entries_[index];
  if (e.name_size == kNoRecord) return false;
  record.number = e.number;
  record.key = e.key;
  record.name.assign(e.data + e.frame_size, e.name_size);
  return true;
}

void CheckRange(std::int64_t value, std::int64_t max, const char* field) {
  if (value < 0 || value > max) {
    throw Error(ErrorKind::kInvalid, "Значение " + std::to_string(value) +
                                         " не помещается в поле \"" + field + "\" (допустимо 0.." +
                                         std::to_string(max) + ")");
  }
}

ByteString TextBlock(std::u16string_view text, int max_lines, int default_font,
                     const LineFonts& fonts, const char* block) {
  ByteString bytes = Cp866Bytes(text);
  ByteString out;
  if (!bytes.empty()) {
    const std::int32_t line_fonts[4] = {fonts.line1, fonts.line2, fonts.line3, fonts.line4};
    std::size_t start = 0;
    for (int line = 1; line <= max_lines; ++line) {
      std::size_t sep = bytes.find("||", start);
      std::string_view piece(bytes.data() + start,
                             (sep == ByteString::npos ? bytes.size() : sep) - start);
      int font = line <= 4 ? line_fonts[line - 1] : -1;
      if (font < 0 || font > kMaxFont) font = default_font;
      if (font < 0 || font > kMaxFont)
        throw Error(ErrorKind::kInvalid, "Некорректный номер шрифта");
      if (piece.size() > static_cast<std::size_t>(kMaxLineBytes)) {
        Error e(ErrorKind::kInvalid, std::string("Строка ") + std::to_string(line) + " текста \"" +
                                         block + "\" длиннее " + std::to_string(kMaxLineBytes) +
                                         " байт");
        e.context().field = block;
        throw e;
      }
      out += PackedBcd(font, 1);
      out += static_cast<char>(piece.size());
      out += piece;
      out += static_cast<char>(kLineEnd);
      if (sep == ByteString::npos) break;
      start = sep + 2;
    }
  }
  if (out.empty()) return ByteString(1, static_cast<char>(kBlockEnd));
  out.back() = static_cast<char>(kBlockEnd);
  return out;
}

ByteString PluRecord::Bytes() const {
  ByteString out;
  AppendTo(out);
  return out;
}

void PluRecord::AppendTo(ByteString& out) const {
  out.reserve(out.size() + 64 + commodity.size() + ingredients.size() + spec_message.size());
  for (const ByteString* f :
       {&number,         &record_size,  &status,     &status2,      &unit_price,   &label_format,
        &barcode_format, &ean_data,     &main_group, &sell_by_date, &sell_by_time, &used_by_date,
        &packed_date,    &packed_time,  &tare,       &image1,       &images2_10,   &commodity,
        &ingredients,    &spec_message, &bcc}) {
    out += *f;
  }
}

PluStatus PluStatusBytes(bool weight_goods, bool has_tare) {
  // Fixed bits: byte 1 = 0111 010x, status-2 byte 1 = 0x0 1110 1 with bit 6 the tare flag.
  std::uint8_t b1 = WithBit(0x74, 0, !weight_goods);
  std::uint8_t s21 = WithBit(0x1D, 6, has_tare);
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
    if (c < u'0' || c > u'9') {
      Error e(ErrorKind::kInvalid, "'" + ToUtf8(text) + "' is not a valid integer value");
      e.context().field = kEanField;
      throw e;
    }
    value = value * 10 + (c - u'0');
  }
  return value;
}

}  // namespace

PluRecord BuildPluRecord(const PluValues& v, const LabelSettings& s) {
  if (v.price < 0 || PriceInHundredths(v.price) > kMaxBcd4)
    throw Error(ErrorKind::kInvalid, "Некорректная цена");
  CheckRange(v.plu, kMaxBcd4, "Номер PLU");
  CheckRange(v.main_group, kMaxBcd2, "Код группы");
  CheckRange(v.sell_by_date, kMaxBcd2, "Срок продажи в днях");
  CheckRange(v.sell_by_time, kMaxBcd2, "Срок продажи в часах и минутах");
  CheckRange(v.used_by_date, kMaxBcd2, "UsedByDate");
  CheckRange(v.packed_date, kMaxBcd2, "PackedDate");
  CheckRange(v.packed_time, kMaxBcd2, "PackedTime");
  CheckRange(v.tare, kMaxBcd2, "Вес тары");
  CheckRange(s.label_format, kMaxByte, "Номер формата этикетки");

  const bool has_tare = v.tare != 0;
  PluStatus st = PluStatusBytes(v.weight_goods, has_tare);
  PluRecord r;
  r.number = PackedBcd(v.plu, 4);
  r.status = {static_cast<char>(st.byte1), static_cast<char>(st.byte2)};
  r.status2 = {static_cast<char>(st.status2_1), static_cast<char>(st.status2_2),
               static_cast<char>(st.status2_3)};
  r.unit_price = PackedBcd(PriceInHundredths(v.price), 4);
  r.label_format = LittleEndian(static_cast<std::uint64_t>(s.label_format), 1);
  r.barcode_format = ByteString(1, static_cast<char>(kPluBarcodeFormat));
  r.ean_data = PackedBcd(EanNumber(v.barcode, v.weight_goods), kPluEanBytes);
  r.main_group = PackedBcd(v.main_group, 2);
  r.sell_by_date = PackedBcd(v.sell_by_date, 2);
  r.sell_by_time = PackedBcd(v.sell_by_time, 2);
  r.used_by_date = PackedBcd(v.used_by_date, 2);
  r.packed_date = PackedBcd(v.packed_date, 2);
  r.packed_time = PackedBcd(v.packed_time, 2);
  if (has_tare) r.tare = PackedBcd(v.tare, 2);
  r.image1 = ByteString(1, '\0');
  r.images2_10 = ByteString(9, '\0');
  r.commodity = TextBlock(v.name, kMaxNameLines, s.commodity_font, v.name_fonts, "Наименование");
  r.ingredients =
      TextBlock(v.ingredients, kMaxIngredientLines, s.ingredient_font, LineFonts{}, "Состав");
  r.spec_message = TextBlock(v.spec_message, kMaxSpecMessageLines, s.spec_message_font, LineFonts{},
                             "Спецсообщение");
  r.bcc = ByteString(1, '\0');
  std::size_t size = kPluFixedBytes + (has_tare ? kPluTareBytes : 0) + r.commodity.size() +
                     r.ingredients.size() + r.spec_message.size();
  if (size > 0xFFFF)
    throw Error(ErrorKind::kInvalid, "Запись PLU " + std::to_string(v.plu) + " длиннее 65535 байт");
  r.record_size = BigEndian(size, 2);
  return r;
}

namespace {

ByteString Head(std::uint8_t table, std::int64_t record, std::size_t record_size,
                const char* field) {
  CheckRange(record, kMaxBcd4, field);
  if (record_size > 0xFFFF)
    throw Error(ErrorKind::kInvalid, std::string("Запись \"") + field + "\" длиннее 65535 байт");
  ByteString out{static_cast<char>(kWrite), static_cast<char>(table)};
  out += PackedBcd(record, 4);
  out += BigEndian(record_size, 2);
  return out;
}

}  // namespace

Command PluWrite(PluValues values, const LabelSettings& s) {
  Command c;
  c.frame += static_cast<char>(kWrite);
  c.frame += static_cast<char>(kTablePlu);
  BuildPluRecord(values, s).AppendTo(c.frame);
  c.record = RecordName{values.plu, 0, ToUtf8(values.name)};
  return c;
}

Command GroupWrite(std::int64_t code, std::u16string_view name) {
  ByteString text = Cp866Bytes(name);
  Command c{Head(kTableMainGroup, code, text.size() + 7, "Номер группы"),
            RecordName{code, 0, ToUtf8(name)}};
  c.frame += '\0';
  c.frame += text;
  return c;
}

Command ShopWrite(std::int64_t code, std::u16string_view name, const LabelSettings& s) {
  CheckRange(s.label_format, 0xFFFF, "Номер формата этикетки");
  ByteString block =
      TextBlock(name, kMaxShopLines, s.company_font, LineFonts{}, "Название магазина");
  Command c{Head(kTableShop, code, block.size() + 8, "Номер магазина"), RecordName{code, 0, {}}};
  c.frame += BigEndian(static_cast<std::uint64_t>(s.label_format), 2);
  c.frame += block;
  return c;
}

Command ImageWrite(std::int64_t image, std::u16string_view data) {
  ByteString bytes = Cp866Bytes(data);
  Command c{Head(kTableImage, image, bytes.size() + 7, "Номер картинки"), RecordName{image, 0, {}}};
  c.frame += '\0';
  c.frame += bytes;
  return c;
}

Command GroupImageWrite(std::int64_t group, std::int64_t image) {
  CheckRange(image, kMaxBcd2, "Номер картинки");
  Command c{Head(kTableGroupImage, group, kGroupImageRecordBytes, "Номер группы"),
            RecordName{group, 0, {}}};
  c.frame += PackedBcd(image, 2);
  return c;
}

Command PresetKeyWrite(std::int64_t preset, std::int64_t key, std::int64_t status,
                       std::int64_t image, std::u16string_view name) {
  CheckRange(key, kMaxBcd4, "Номер клавиши");
  CheckRange(status, kMaxByte, "Статус клавиши");
  CheckRange(image, 0xFFFFFFFFll, "Номер картинки");
  if (name.size() > static_cast<std::size_t>(kPresetNameChars)) {
    throw Error(ErrorKind::kInvalid, "Наименование клавиши длиннее 32 символов");
  }
  std::u16string padded(name);
  padded.resize(kPresetNameChars, u' ');
  Command c{Head(kTablePresetKey, preset, kPresetKeyRecordBytes, "Номер клавиши быстрого доступа"),
            RecordName{preset, key, {}}};
  ByteString& out = c.frame;
  out += PackedBcd(key, 4);
  out += BigEndian(static_cast<std::uint64_t>(status), 1);
  out += '\0';
  out += Cp866Bytes(padded);
  out += ByteString(4, '\0');
  out += PackedBcd(32, 32);
  out += '\0';
  out += LittleEndian(static_cast<std::uint64_t>(image), 4);
  out += ByteString(4, '\0');
  return c;
}

Command SystemSettingsWrite(std::u16string_view t) {
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
  Command c{{static_cast<char>(kWrite), static_cast<char>(kTableSystem)}, {}};
  ByteString& out = c.frame;
  out += BigEndian(255, 4);
  out += '\0';
  out += PackedBcd(date, 3);
  out += ByteString(2, '\0');
  out += PackedBcd(time, 2);
  return c;
}

Command RecordDelete(std::uint8_t table, std::int64_t record) {
  CheckRange(record, kMaxBcd4, "Номер записи");
  Command c{{static_cast<char>(kDelete), static_cast<char>(table)}, RecordName{record, 0, {}}};
  c.frame += PackedBcd(record, 4);
  return c;
}

Command TableClear(std::uint8_t table) {
  return {{static_cast<char>(kClear), static_cast<char>(table)}, {}};
}

Command RawCommand(std::u16string_view hex) {
  if (!IsHexText(hex)) throw Error(ErrorKind::kInvalid, "Некорректные входные данные");
  return {BytesFromHex(hex), {}};
}

}  // namespace velquora::protocol
