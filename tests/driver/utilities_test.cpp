// Shared utilities and the settings conversions.
#include <gtest/gtest.h>

#include <iterator>
#include <limits>

#include "common/text.h"
#include "driver/setting_conversion.h"
#include "driver/utilities.h"
#include "support/test_helpers.h"

namespace velquora::driver {
namespace {

using addin::Variant;

TEST(Utilities, EquipmentTypeNames) {
  EXPECT_EQ(EquipmentTypeName(static_cast<int>(TEquipmentType::etPrintingScale)),
            u"ВесыСПечатьюЭтикеток");
  EXPECT_EQ(EquipmentTypeName(static_cast<int>(TEquipmentType::etUnknown)),
            u"НеизвестныйТипОборудования");
  EXPECT_EQ(EquipmentTypeName(0), u"СканерШтрихкода");
  try {
    EquipmentTypeName(15);
    FAIL();
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Enum value unacceptable");
  }
}

TEST(Utilities, CleanXmlTextKeepsOnlyWhatXmlAllows) {
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
TEST(Utilities, CleanXmlTextUtf8MatchesCleaningThenConverting) {
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

TEST(Utilities, AttributeReaders) {
  EXPECT_EQ(VarToIntDef(Variant::String(u" 42 "), kAbsent), 42);
  EXPECT_EQ(VarToIntDef(Variant::String(u"4a2"), kAbsent), kAbsent);
  EXPECT_EQ(VarToIntDef(Variant::String(u""), kAbsent), kAbsent);
  EXPECT_EQ(VarToIntDef(Variant::String(u"99999999999"), kAbsent), kAbsent);
  EXPECT_EQ(VarToIntDef(Variant::Null(), kAbsent), kAbsent);
  EXPECT_EQ(VarToCurrDef(Variant::String(u"12.50"), kAbsent), 125000);
  EXPECT_EQ(VarToCurrDef(Variant::String(u"0.00005"), kAbsent), 0);  // half to even
  EXPECT_EQ(VarToCurrDef(Variant::String(u"0.00015"), kAbsent), 2);
  EXPECT_EQ(VarToCurrDef(Variant::String(u"12,50"), kAbsent), kAbsent);  // "." is the separator
  for (const char16_t* bad : {u"", u"abc", u"1.2.3"})
    EXPECT_EQ(VarToCurrDef(Variant::String(bad), kAbsent), kAbsent);
  EXPECT_EQ(VarToCurrDef(Variant::Null(), kAbsent), kAbsent);
  EXPECT_FALSE(VarToBoolDef(Variant::String(u"FALSE"), true));
  EXPECT_TRUE(VarToBoolDef(Variant::String(u"0"), true));
  EXPECT_TRUE(VarToBoolDef(Variant::String(u"yes"), true));
  EXPECT_TRUE(VarToBoolDef(Variant::Null(), true));
  EXPECT_FALSE(VarToBoolDef(Variant::Int(0), true));
}

// Numbers whose amount in ten-thousandths lies outside 64 bits are unreadable, never wrapped.
TEST(Utilities, AmountsOutsideTheRangeAreRefused) {
  using addin::VariantKind;
  const std::int64_t big = std::int64_t{1} << 62;
  const Variant values[] = {Variant::Int(big, VariantKind::Int64),
                            Variant::Int(-big, VariantKind::Int64),
                            Variant::UInt(std::uint64_t{1} << 63, VariantKind::UInt64),
                            Variant::Double(1e300),
                            Variant::Double(-std::numeric_limits<double>::infinity()),
                            Variant::Double(std::numeric_limits<double>::quiet_NaN()),
                            Variant::Date(1e20)};
  for (const Variant& v : values) {
    EXPECT_EQ(VarToCurrDef(v, kAbsent), kAbsent) << ToUtf8(v.ToText());
    EXPECT_THROW(SettingToCurr(v), std::exception) << ToUtf8(v.ToText());
  }
  const std::int64_t max_whole = std::numeric_limits<std::int64_t>::max() / 10000;
  EXPECT_EQ(VarToCurrDef(Variant::Int(max_whole, VariantKind::Int64), kAbsent), max_whole * 10000);
  EXPECT_EQ(VarToCurrDef(Variant::Int(-max_whole, VariantKind::Int64), kAbsent),
            -max_whole * 10000);
  EXPECT_EQ(VarToCurrDef(Variant::Double(-1.5), kAbsent), -15000);
}

TEST(Utilities, FileVersion) {
  const std::string bin = VELQUORA_BIN_DIR "/";
  EXPECT_EQ(GetFileVersionText(bin + test::kDriverFile), u"1.2.3.43");
  EXPECT_EQ(GetFileVersionText(bin + test::kTestAddinFile), u"0.0.0.0");
  EXPECT_EQ(GetFileVersionText("/nonexistent"), u"0.0.0.0");
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
  EXPECT_EQ(SettingToCurr(Variant::String(u"1.23456")), 12346);
  EXPECT_DOUBLE_EQ(SettingToDouble(Variant::String(u"2.25")), 2.25);
}

}  // namespace
}  // namespace velquora::driver
