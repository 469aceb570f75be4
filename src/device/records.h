#pragma once
// Record and frame builders for every table: pure functions from values to bytes. Each checks
// its numbers against their fields first, so no field ever holds a different number than it
// was given and nothing is built from a value that does not fit.
#include <array>
#include <cstdint>
#include <string>

#include "device/encoding.h"

namespace velquora::device {

struct TFont {
  std::int32_t F1 = -1, F2 = -1, F3 = -1, F4 = -1;
};
TFont SetDefFont();

// Fails with "<message>: <value>" unless 0 <= value <= max.
void CheckRange(std::int64_t value, std::int64_t max, const char* field);

// Lines cut at "||", each tagged with its font, closed by 0x0C. `block` names the text in
// messages (a line over 255 bytes fails).
ByteString BuildTextBlock(std::u16string_view text, int max_lines, int default_font,
                          const TFont& fonts, const char* block);

struct TPLURecord {
  ByteString PLU_Number, PLU_RecordSize, PLU_Status, PLU_Status2, Unit_Price, Label_Format1,
      Barcode_Format, EAN_Data, Main_Group_Code, Sell_By_Date, Sell_By_Time, Used_By_Date,
      Packed_Date, Packed_Time, PLU_Tare, Image1, Image2_10, Commodity, Ingredient, SpecMessage,
      BCC;
  ByteString Bytes() const;  // the 21 fields in order
};

struct PluValues {
  std::int32_t plu = 0, main_group = 0, sell_by_date = 0, sell_by_time = 0, used_by_date = 0,
               packed_date = 0, packed_time = 0, tare = 0;
  std::u16string barcode, name, ingredients, spec_message;
  std::int64_t price = 0;  // ten-thousandths
  bool weight_goods = true;
  TFont name_fonts;
};

struct LabelSettings {
  std::int32_t commodity_font = 0, ingredient_font = 0, spec_message_font = 0, company_font = 0;
  std::int32_t label_format = 0;
};

struct PluStatus {
  std::uint8_t byte1, byte2, status2_1, status2_2, status2_3;
};
PluStatus PluStatusBytes(bool weight_goods, bool has_tare);

TPLURecord BuildPluRecord(const PluValues& v, const LabelSettings& s);

ByteString GroupFrame(std::int64_t code, std::u16string_view name);
ByteString ShopFrame(std::int64_t code, std::u16string_view name, const LabelSettings& s);
ByteString ImageFrame(std::int64_t image, std::u16string_view data);
ByteString GroupImageFrame(std::int64_t group, std::int64_t image);
ByteString PresetKeyFrame(std::int64_t preset, std::int64_t key, std::int64_t status,
                          std::int64_t image, std::u16string_view name);
// Fails with "Некорректная системная дата" unless the text holds the date and time digits.
ByteString SystemSettingsFrame(std::u16string_view date_time);
ByteString RecordNumberFrame(std::uint8_t command, std::uint8_t table, std::int64_t record);
ByteString ClearFrame(std::uint8_t table);

}  // namespace velquora::device
