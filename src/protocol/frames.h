#pragma once
// Frame builders for every table: pure functions from values (and the label settings they are
// given) to bytes. Each checks its numbers against their fields first, so no field ever holds a
// different number than it was given and nothing is built from a value that does not fit.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/encoding.h"

namespace velquora::protocol {

// The record a write names when the scale refuses it (answers.h words the refusal).
struct RecordName {
  std::int64_t number = 0;
  std::int64_t key = 0;  // a preset key's key number
  std::string name;      // UTF-8
};

// One frame for the scale: command byte, table byte, record; and the record its refusal names
// (none for a frame given whole).
struct Command {
  ByteString frame;
  std::optional<RecordName> record;
};

// Frames made ahead of sending, each with the record its refusal names. They lie one after
// another in large blocks: a document of many records takes little more than its frames' bytes,
// with no string per frame and no copying as the list grows.
class FrameList {
 public:
  void Add(const Command& command);
  std::size_t size() const { return entries_.size(); }
  std::string_view Frame(std::size_t index) const {
    const Entry& e = entries_[index];
    return {e.data, e.frame_size};
  }
  // Fills `record` with what the frame's refusal names; false when it names nothing.
  bool Record(std::size_t index, RecordName& record) const;

 private:
  static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
  static constexpr std::uint32_t kNoRecord = 0xFFFFFFFFu;
  // The frame's bytes, then the name's, at `data`.
  struct Entry {
    const char* data;
    std::uint32_t frame_size;
    std::uint32_t name_size;  // kNoRecord: the refusal names no record
    std::int64_t number;
    std::int64_t key;
  };
  // Room for `size` more bytes, in the last block or a new one.
  char* Room(std::size_t size);

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t block_used_ = 0;
  std::size_t block_size_ = 0;
  std::vector<Entry> entries_;
};

// The fonts of the first four lines of a text; a font outside 0..9 (-1: none given) gives way
// to the text's default font.
struct LineFonts {
  std::int32_t line1 = -1, line2 = -1, line3 = -1, line4 = -1;
};

// The label settings the driver is opened with.
struct LabelSettings {
  std::int32_t commodity_font = 0, ingredient_font = 0, spec_message_font = 0, company_font = 0;
  std::int32_t label_format = 0;
};

// The names the builders give the fields of a record they fail on (Error's context().field):
// a text block by its `block` name, the PLU's bar code as this.
inline constexpr char kEanField[] = "EAN";

// Fails with "<message>: <value>" unless 0 <= value <= max.
void CheckRange(std::int64_t value, std::int64_t max, const char* field);

// Lines cut at "||", each tagged with its font, closed by 0x0C. `block` names the text in
// messages (a line over 255 bytes fails).
ByteString TextBlock(std::u16string_view text, int max_lines, int default_font,
                     const LineFonts& fonts, const char* block);

// The PLU record (table 0x25), field by field as the protocol names them.
struct PluRecord {
  ByteString number, record_size, status, status2, unit_price, label_format, barcode_format,
      ean_data, main_group, sell_by_date, sell_by_time, used_by_date, packed_date, packed_time,
      tare, image1, images2_10, commodity, ingredients, spec_message, bcc;
  ByteString Bytes() const;  // the 21 fields in order
  void AppendTo(ByteString& out) const;
};

struct PluValues {
  std::int32_t plu = 0, main_group = 0, sell_by_date = 0, sell_by_time = 0, used_by_date = 0,
               packed_date = 0, packed_time = 0, tare = 0;
  std::u16string barcode, name, ingredients, spec_message;
  std::int64_t price = 0;  // ten-thousandths
  bool weight_goods = true;
  LineFonts name_fonts;
};

struct PluStatus {
  std::uint8_t byte1, byte2, status2_1, status2_2, status2_3;
};
PluStatus PluStatusBytes(bool weight_goods, bool has_tare);

PluRecord BuildPluRecord(const PluValues& v, const LabelSettings& s);

// Writes (F1): their refusals name the record where the answer table has words for it.
Command PluWrite(PluValues values, const LabelSettings& s);
Command GroupWrite(std::int64_t code, std::u16string_view name);
Command ShopWrite(std::int64_t code, std::u16string_view name, const LabelSettings& s);
Command ImageWrite(std::int64_t image, std::u16string_view data);
Command GroupImageWrite(std::int64_t group, std::int64_t image);
Command PresetKeyWrite(std::int64_t preset, std::int64_t key, std::int64_t status,
                       std::int64_t image, std::u16string_view name);
// Fails with "Некорректная системная дата" unless the text holds the date and time digits.
Command SystemSettingsWrite(std::u16string_view date_time);
// Delete (F3) of one record and clearing (F2) of a whole table.
Command RecordDelete(std::uint8_t table, std::int64_t record);
Command TableClear(std::uint8_t table);
// A whole frame given as hex text, sent as it is; fails with "Некорректные входные данные"
// unless it is hex of whole bytes.
Command RawCommand(std::u16string_view hex);

}  // namespace velquora::protocol
