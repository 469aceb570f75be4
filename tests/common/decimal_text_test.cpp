#include "common/decimal_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

namespace velquora {
namespace {

std::uint64_t Bits(double d) {
  std::uint64_t b;
  std::memcpy(&b, &d, sizeof b);
  return b;
}

double FromBits(std::uint64_t b) {
  double d;
  std::memcpy(&d, &b, sizeof d);
  return d;
}

TEST(DecimalText, ParsesToTheNearestDoubleTiesToEven) {
  struct Case {
    const char* text;
    double expected;
  };
  const Case cases[] = {
      {"0", 0.0},
      {"-0", -0.0},
      {"0.1", 0.1},
      {"-12.5", -12.5},
      {".5", 0.5},
      {"5.", 5.0},
      {"1e23", 1e23},
      {"8.41e21", 8.41e21},
      {"1E-5", 1e-5},
      {"00012.3400e+2", 1234.0},
      {"9007199254740993", 9007199254740992.0},                     // tie below: to even
      {"9007199254740995", 9007199254740996.0},                     // tie above: to even
      {"9007199254740993.000000000000000001", 9007199254740994.0},  // just past the tie
      {"1.7976931348623157e308", 1.7976931348623157e308},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},  // the largest subnormal
      {"2.2250738585072012e-308", 2.2250738585072014e-308},
      {"4.9406564584124654e-324", 4.9406564584124654e-324},  // the smallest subnormal
      {"2.4703282292062328e-324", 4.9406564584124654e-324},  // just above half of it
      {"0.000000000000000000000000000000000000000000001e+45", 1.0},
      {"123456789012345678901234567890", 1.2345678901234568e29},
  };
  for (const auto& c : cases) {
    auto parsed = ParseDecimal(c.text);
    ASSERT_TRUE(parsed) << c.text;
    EXPECT_EQ(Bits(*parsed), Bits(c.expected)) << c.text;
  }
}

TEST(DecimalText, RefusesWhatIsNotANumberOrOutOfRange) {
  for (const char* text :
       {"", "-", ".", "e5", "1e", "1e+", "1.2.3", "1,5", " 1", "1 ", "+1", "0x10", "1e400",
        "-1e400", "1.8e308", "2.4703282292062327e-324", "1e-400", "infinit", "nan(1)"}) {
    EXPECT_FALSE(ParseDecimal(text)) << text;
  }
  EXPECT_TRUE(std::isinf(*ParseDecimal("-Infinity")));
  EXPECT_TRUE(std::isnan(*ParseDecimal("NaN")));
}

TEST(DecimalText, LongDigitStringsStillRoundCorrectly) {
  // Half way between 1 and the next double, then a nonzero digit after 900 digits.
  std::string tie = "1.00000000000000011102230246251565404236316680908203125";
  EXPECT_EQ(*ParseDecimal(tie), 1.0);
  std::string past = tie + std::string(900, '0') + "1";
  EXPECT_EQ(*ParseDecimal(past), std::nextafter(1.0, 2.0));
  EXPECT_EQ(*ParseDecimal(std::string(2000, '0') + "7"), 7.0);
}

TEST(DecimalText, FormatsLikePrintfG) {
  struct Case {
    double value;
    int digits;
    const char* expected;
  };
  const Case cases[] = {
      {0.0, 15, "0"},
      {-0.0, 15, "-0"},
      {1.0, 15, "1"},
      {0.1, 15, "0.1"},
      {0.1, 17, "0.10000000000000001"},
      {123.456, 15, "123.456"},
      {1e15, 15, "1e+15"},
      {123456789012345.0, 15, "123456789012345"},
      {0.0001, 15, "0.0001"},
      {0.00001, 15, "1e-05"},
      {2.5, 1, "2"},  // an exact tie goes to even
      {3.5, 1, "4"},
      {0.125, 2, "0.12"},
      {9.9999999999999999e22, 15, "1e+23"},
      {5e-324, 15, "4.94065645841247e-324"},
      {1.7976931348623157e308, 17, "1.7976931348623157e+308"},
      {-42.0, 0, "-4e+01"},
      {std::numeric_limits<double>::infinity(), 15, "inf"},
      {-std::numeric_limits<double>::infinity(), 15, "-inf"},
      {std::numeric_limits<double>::quiet_NaN(), 15, "nan"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDecimal(c.value, c.digits), c.expected) << c.expected;
}

// The C library under the "C" locale is the reference: random doubles of every magnitude.
TEST(DecimalText, AgreesWithTheCLibraryOnRandomValues) {
  ASSERT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
  std::mt19937_64 random(20261210);
  for (int i = 0; i < 5000; ++i) {
    double value = FromBits(random());
    if (!std::isfinite(value)) continue;
    for (int digits : {1, 6, 15, 17}) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%.*g", digits, value);
      ASSERT_EQ(FormatDecimal(value, digits), expected) << digits;
      auto parsed = ParseDecimal(expected);
      double reference = std::strtod(expected, nullptr);
      if (std::isinf(reference)) {  // rounding to fewer digits went past the largest double
        ASSERT_FALSE(parsed) << expected;
        continue;
      }
      ASSERT_TRUE(parsed) << expected;
      ASSERT_EQ(Bits(*parsed), Bits(reference)) << expected;
    }
  }
}

}  // namespace
}  // namespace velquora
