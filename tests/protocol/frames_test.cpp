// Record and frame builders against the protocol's examples.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/frames.h"
#include "protocol/wire_format.h"

#include "support/test_helpers.h"

namespace velquora::protocol {
namespace {

ByteString B(std::initializer_list<int> bytes) {
  return test::Bytes(bytes);
}

PluValues Cheese() {
  PluValues v;
  v.plu = 17;
  v.barcode = u"2401234";
  v.name = u"Сыр";
  v.price = 123400;  // 12.34
  v.weight_goods = true;
  return v;
}

LabelSettings Label(int commodity_font = 3) {
  LabelSettings s;
  s.commodity_font = commodity_font;
  s.label_format = 17;
  return s;
}

TEST(PluRecord, WeightGoodsWithoutTare) {
  PluRecord r = BuildPluRecord(Cheese(), Label());
  EXPECT_EQ(r.commodity, B({0x03, 0x03, 0x91, 0xEB, 0xE0, 0x0C}));
  EXPECT_EQ(r.ingredients, B({0x0C}));
  EXPECT_EQ(r.spec_message, B({0x0C}));
  EXPECT_EQ(r.record_size, B({0x00, 55}));
  EXPECT_EQ(r.status, B({0x74, 0x00}));
  EXPECT_EQ(r.status2, B({0x1D, 0xE0, 0x5F}));
  EXPECT_EQ(r.unit_price, B({0x00, 0x00, 0x12, 0x34}));
  EXPECT_EQ(r.ean_data, B({0x24, 0x01, 0x23, 0x40, 0x00, 0x00, 0x01}));
  EXPECT_TRUE(r.tare.empty());
  ByteString bytes = r.Bytes();
  ASSERT_EQ(bytes.size(), 55u);
  EXPECT_EQ(bytes.substr(0, 4), B({0x00, 0x00, 0x00, 0x17}));
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[15]), 17);
  EXPECT_EQ(static_cast<std::uint8_t>(bytes[16]), 0x05);
  EXPECT_EQ(bytes.substr(36, 10), ByteString(10, '\0'));
  EXPECT_EQ(bytes.back(), '\0');
}

TEST(PluRecord, PieceGoodsWithTare) {
  PluValues v = Cheese();
  v.weight_goods = false;
  v.tare = 15;
  PluRecord r = BuildPluRecord(v, Label());
  EXPECT_EQ(r.status, B({0x75, 0x00}));
  EXPECT_EQ(r.status2, B({0x5D, 0xE0, 0x5F}));
  EXPECT_EQ(r.tare, B({0x00, 0x15}));
  EXPECT_EQ(r.ean_data.back(), 0x02);
  EXPECT_EQ(r.record_size, B({0x00, 57}));
  EXPECT_EQ(r.Bytes().substr(kPluTareOffset, 2), B({0x00, 0x15}));
}

TEST(PluRecord, LinesAndFonts) {
  LineFonts fonts;
  fonts.line1 = 2;
  EXPECT_EQ(TextBlock(u"Сыр||Ой", 4, 3, fonts, "n"),
            B({0x02, 0x03, 0x91, 0xEB, 0xE0, 0x0D, 0x03, 0x02, 0x8E, 0xA9, 0x0C}));
  EXPECT_EQ(TextBlock(u"a||b||c||d||e||f", 4, 1, LineFonts{}, "n"),
            B({1, 1, 'a', 0x0D, 1, 1, 'b', 0x0D, 1, 1, 'c', 0x0D, 1, 1, 'd', 0x0C}));
  EXPECT_EQ(TextBlock(u"a||", 15, 0, LineFonts{}, "n"), B({0, 1, 'a', 0x0D, 0, 0, 0x0C}));
  EXPECT_EQ(TextBlock(u"a|||b", 15, 0, LineFonts{}, "n"),
            B({0, 1, 'a', 0x0D, 0, 2, '|', 'b', 0x0C}));
  fonts.line1 = 10;  // outside 0..9: the default
  EXPECT_EQ(TextBlock(u"a", 4, 7, fonts, "n"), B({7, 1, 'a', 0x0C}));
  EXPECT_THROW(TextBlock(u"a", 4, 12, LineFonts{}, "n"), std::exception);
  EXPECT_EQ(TextBlock(u"", 4, 12, LineFonts{}, "n"), B({0x0C}));  // no lines, no font check
  EXPECT_THROW(TextBlock(std::u16string(256, u'x'), 4, 0, LineFonts{}, "n"), std::exception);
  EXPECT_NO_THROW(TextBlock(std::u16string(255, u'x'), 4, 0, LineFonts{}, "n"));
}

TEST(PluRecord, PricesRoundHalfToEven) {
  struct Case {
    std::int64_t ten_thousandths;
    ByteString field;
  } cases[] = {
      {123400, B({0, 0, 0x12, 0x34})},
      {123450, B({0, 0, 0x12, 0x34})},
      {123550, B({0, 0, 0x12, 0x36})},
      {123456, B({0, 0, 0x12, 0x35})},
      {50, B({0, 0, 0, 0})},
      {150, B({0, 0, 0, 0x02})},
      {9999999900, B({0x99, 0x99, 0x99, 0x99})},
  };
  for (const auto& c : cases) {
    PluValues v = Cheese();
    v.price = c.ten_thousandths;
    EXPECT_EQ(BuildPluRecord(v, Label()).unit_price, c.field) << c.ten_thousandths;
  }
}

TEST(PluRecord, NumbersThatDoNotFitTheirFieldsFail) {
  auto fails = [](auto change) {
    PluValues v = Cheese();
    LabelSettings s = Label();
    change(v, s);
    EXPECT_ANY_THROW(BuildPluRecord(v, s));
  };
  fails([](PluValues& v, LabelSettings&) { v.price = 12345678900; });  // 1234567.89
  fails([](PluValues& v, LabelSettings&) { v.price = -1; });
  fails([](PluValues& v, LabelSettings&) { v.plu = 100000000; });
  fails([](PluValues& v, LabelSettings&) { v.main_group = 10000; });
  fails([](PluValues& v, LabelSettings&) { v.tare = -5; });
  fails([](PluValues& v, LabelSettings&) { v.barcode = u"24A1234"; });
  fails([](PluValues&, LabelSettings& s) { s.label_format = 256; });
  fails([](PluValues&, LabelSettings& s) { s.commodity_font = 12; });
  try {
    PluValues v = Cheese();
    v.barcode = u"24A1234";
    BuildPluRecord(v, Label());
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "'24A12340000001' is not a valid integer value");
  }
}

TEST(TableFrames, BytesAsTheProtocolGivesThem) {
  LabelSettings s;
  s.company_font = 2;
  s.label_format = 17;
  EXPECT_EQ(GroupWrite(5, u"Мясо").frame,
            B({0xF1, 0x23, 0, 0, 0, 0x05, 0x00, 0x0B, 0x00, 0x8C, 0xEF, 0xE1, 0xAE}));
  EXPECT_EQ(GroupWrite(5, u"").frame, B({0xF1, 0x23, 0, 0, 0, 0x05, 0x00, 0x07, 0x00}));
  EXPECT_EQ(ShopWrite(1, u"Лавка", s).frame, B({0xF1, 0x3D, 0, 0, 0, 1, 0x00, 0x10, 0x00, 0x11,
                                                0x02, 0x05, 0x8B, 0xA0, 0xA2, 0xAA, 0xA0, 0x0C}));
  EXPECT_EQ(GroupImageWrite(12, 3).frame, B({0xF1, 0xA3, 0, 0, 0, 0x12, 0x00, 0x08, 0x00, 0x03}));
  EXPECT_EQ(SystemSettingsWrite(u"2024-05-17T10:30:00").frame,
            B({0xF1, 0x4E, 0, 0, 0, 0xFF, 0x00, 0x17, 0x05, 0x24, 0x00, 0x00, 0x10, 0x30}));
  EXPECT_THROW(SystemSettingsWrite(u"2024-05-17"), std::exception);
  EXPECT_EQ(RecordDelete(0x25, 123).frame, B({0xF3, 0x25, 0, 0, 0x01, 0x23}));
  EXPECT_EQ(TableClear(0x41).frame, B({0xF2, 0x41}));
  ByteString preset = PresetKeyWrite(1, 2, 3, 0x01020304, u"Хлеб!").frame;
  ASSERT_EQ(preset.size(), 91u);
  EXPECT_EQ(preset.substr(6, 2), B({0x00, 0x59}));
  EXPECT_EQ(preset.substr(14, 5), B({0x95, 0xAB, 0xA5, 0xA1, '!'}));
  EXPECT_EQ(preset.substr(19, 27), std::string(27, ' '));
  EXPECT_EQ(preset.substr(50, 32), ByteString(31, '\0') + B({0x32}));
  EXPECT_EQ(preset.substr(83, 4), B({0x04, 0x03, 0x02, 0x01}));
  EXPECT_THROW(PresetKeyWrite(1, 2, 3, 4, std::u16string(33, u'a')), std::exception);
  EXPECT_THROW(GroupWrite(100000000, u"x"), std::exception);
}

}  // namespace
}  // namespace velquora::protocol

namespace velquora::protocol {
namespace {

// Frames kept for later: each comes back as it was added, with its refusal's record, whether it
// shares a block with others, ends one, or is larger than a block on its own.
TEST(FrameList, KeepsEveryFrameAndItsRecordAcrossBlocks) {
  std::vector<Command> added;
  for (int i = 0; i < 20000; ++i) {
    Command c;
    c.frame = ByteString(static_cast<std::size_t>(100 + i % 57), static_cast<char>(i));
    if (i % 3 != 0) c.record = RecordName{i, i % 7, "Сыр " + std::to_string(i)};
    if (i == 7000) c.frame = ByteString(3 << 20, 'x');  // more than a block
    if (i == 7001) c.record = RecordName{i, 0, ""};     // a record with an empty name
    added.push_back(std::move(c));
  }
  FrameList list;
  for (const Command& c : added) list.Add(c);
  ASSERT_EQ(list.size(), added.size());
  RecordName record;
  for (std::size_t i = 0; i < added.size(); ++i) {
    ASSERT_EQ(list.Frame(i), added[i].frame) << "frame " << i;
    ASSERT_EQ(list.Record(i, record), added[i].record.has_value()) << "frame " << i;
    if (!added[i].record) continue;
    EXPECT_EQ(record.number, added[i].record->number);
    EXPECT_EQ(record.key, added[i].record->key);
    ASSERT_EQ(record.name, added[i].record->name) << "frame " << i;
  }
}

}  // namespace
}  // namespace velquora::protocol
