// Equipment type names, the cleaning of XML text, the readers of attribute values and the
// settings conversions.
#include <gtest/gtest.h>

#include <iterator>
#include <limits>

#include "common/text.h"
#include "driver/attribute_values.h"
#include "driver/driver_info.h"
#include "driver/setting_conversion.h"
#include "driver/xml_text.h"
#include "platform/library_file.h"
#include "support/test_helpers.h"

namespace velquora::driver {
namespace {

using addin::Variant;

TEST(AttributeValues, EquipmentTypeNames) {
  EXPECT_EQ(EquipmentTypeName(static_cast<int>(EquipmentType::kPrintingScale)),
            u"ВесыСПечатьюЭтикеток");
  EXPECT_EQ(EquipmentTypeName(static_cast<int>(EquipmentType::kUnknown)),
            u"НеизвестныйТипОборудования");
  EXPECT_EQ(EquipmentTypeName(0), u"СканерШтрихкода");
  try {
    EquipmentTypeName(15);
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Enum value unacceptable");
  }
}

TEST(AttributeValues, CleanXmlTextKeepsOnlyWhatXmlAllows) {
  std::u16string in = u"a\tb\nc\rd";
  in += char16_t{0x0000};
  in += char16_t{0x0001};
  in += char16_t{0xFFFE};
  in += char16_t{0xFFFF};
  in += u"😀е";
  EXPECT_EQ(CleanXmlText(in), u"a\tb\nc\rdе");
}

// The one-pass conversion gives what cleaning and then converting gives, wherever the removed
// and the non-ASCII characters fall among the runs of plain ASCII it copies four at a time.
TEST(AttributeValues, CleanXmlTextUtf8MatchesCleaningThenConverting) {
  const char16_t pieces[] = {u'a',   u' ',   u'~',   0x7F,   0x1F,   0x00,   u'\t',
                             u'\n',  0x0416, 0x20AC, 0xD83D, 0xDE00, 0xFFFE, 0xFFFD,
                             0xE000, 0xD7FF, 0x80,   0x7FF,  0x800};
  std::uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    std::u16string text;
    int length = round % 23;
    for (int i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      // Mostly plain letters, so that runs of four and more occur at every alignment.
      std::size_t pick = (seed >> 16) % (2 * std::size(pieces));
      text += pick < std::size(pieces) ? pieces[pick] : u'x';
    }
    std::string expected = ToUtf8(CleanXmlText(text));
    EXPECT_EQ(CleanXmlTextUtf8(text), expected) << "round " << round;
    EXPECT_EQ(CleanXmlTextUtf8Size(text), expected.size()) << "round " << round;
  }
}

TEST(AttributeValues, AttributeReaders) {
  EXPECT_EQ(ReadInteger(Variant::String(u" 42 "), kNoNumber), 42);
  EXPECT_EQ(ReadInteger(Variant::String(u"4a2"), kNoNumber), kNoNumber);
  EXPECT_EQ(ReadInteger(Variant::String(u""), kNoNumber), kNoNumber);
  EXPECT_EQ(ReadInteger(Variant::String(u"99999999999"), kNoNumber), kNoNumber);
  EXPECT_EQ(ReadInteger(Variant::Null(), kNoNumber), kNoNumber);
  EXPECT_EQ(ReadAmount(Variant::String(u"12.50"), kNoNumber), 125000);
  EXPECT_EQ(ReadAmount(Variant::String(u"0.00005"), kNoNumber), 0);  // half to even
  EXPECT_EQ(ReadAmount(Variant::String(u"0.00015"), kNoNumber), 2);
  EXPECT_EQ(ReadAmount(Variant::String(u"12,50"), kNoNumber), kNoNumber);  // "." is the separator
  for (const char16_t* bad : {u"", u"abc", u"1.2.3"})
    EXPECT_EQ(ReadAmount(Variant::String(bad), kNoNumber), kNoNumber);
  EXPECT_EQ(ReadAmount(Variant::Null(), kNoNumber), kNoNumber);
  EXPECT_FALSE(ReadFlag(Variant::String(u"FALSE"), true));
  EXPECT_TRUE(ReadFlag(Variant::String(u"0"), true));
  EXPECT_TRUE(ReadFlag(Variant::String(u"yes"), true));
  EXPECT_TRUE(ReadFlag(Variant::Null(), true));
  EXPECT_FALSE(ReadFlag(Variant::Int(0), true));
}

// Numbers whose amount in ten-thousandths lies outside 64 bits are unreadable, never wrapped.
TEST(AttributeValues, AmountsOutsideTheRangeAreRefused) {
  using addin::VariantKind;
  const std::int64_t big = std::int64_t{1} << 62;
  const Variant values[] = {Variant::Int(big, VariantKind::kInt64),
                            Variant::Int(-big, VariantKind::kInt64),
                            Variant::UInt(std::uint64_t{1} << 63, VariantKind::kUInt64),
                            Variant::Double(1e300),
                            Variant::Double(-std::numeric_limits<double>::infinity()),
                            Variant::Double(std::numeric_limits<double>::quiet_NaN()),
                            Variant::Date(1e20)};
  for (const Variant& v : values) {
    EXPECT_EQ(ReadAmount(v, kNoNumber), kNoNumber) << ToUtf8(v.ToText());
  }
  const std::int64_t max_whole = std::numeric_limits<std::int64_t>::max() / 10000;
  EXPECT_EQ(ReadAmount(Variant::Int(max_whole, VariantKind::kInt64), kNoNumber), max_whole * 10000);
  EXPECT_EQ(ReadAmount(Variant::Int(-max_whole, VariantKind::kInt64), kNoNumber),
            -max_whole * 10000);
  EXPECT_EQ(ReadAmount(Variant::Double(-1.5), kNoNumber), -15000);
}

TEST(AttributeValues, FileVersion) {
  const std::string bin = VELQUORA_BIN_DIR "/";
  EXPECT_EQ(platform::FileVersionText(bin + test::kDriverFile), "1.2.3.43");
  EXPECT_EQ(platform::FileVersionText(bin + test::kTestAddinFile), "0.0.0.0");
  EXPECT_EQ(platform::FileVersionText("/nonexistent"), "0.0.0.0");
}

TEST(SettingConversion, AsTheGettersConvert) {
  EXPECT_FALSE(SettingToBool(Variant::String(u"fAlSe")));
  EXPECT_TRUE(SettingToBool(Variant::String(u"TRUE")));
  EXPECT_TRUE(SettingToBool(Variant::String(u"2")));
  EXPECT_FALSE(SettingToBool(Variant::Int(0)));
  EXPECT_THROW(SettingToBool(Variant::String(u"maybe")), std::exception);
  EXPECT_EQ(SettingToInt(Variant::String(u"0")), 0);
  EXPECT_EQ(SettingToInt(Variant::Bool(true)), -1);
  EXPECT_EQ(SettingToInt(Variant::Double(2.5)), 2);
  EXPECT_EQ(SettingToInt(Variant::Double(3.5)), 4);
  EXPECT_EQ(SettingToInt(Variant()), 0);
  EXPECT_THROW(SettingToInt(Variant::String(u"abc")), std::exception);
  EXPECT_THROW(SettingToInt(Variant::Double(3e10)), std::exception);
  EXPECT_EQ(SettingToStr(Variant::Int(17)), u"17");
  EXPECT_EQ(SettingToStr(Variant::Double(0.1)), u"0.1");
  EXPECT_EQ(SettingToStr(Variant::Bool(false)), u"False");
}

}  // namespace
}  // namespace velquora::driver
