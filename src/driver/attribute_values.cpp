#include "driver/attribute_values.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "common/decimal_text.h"
#include "common/text.h"
#include "platform/case_mapping.h"

namespace velquora::driver {

std::optional<std::int64_t> ParseInteger(std::u16string_view text) {
  std::string s = ToUtf8(TrimControl(text));
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  std::int64_t v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<std::int64_t> ParseAmount(std::u16string_view text) {
  std::string s = ToUtf8(TrimControl(text));
  bool negative = false;
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  std::int64_t whole = 0;
  std::size_t digits = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++digits) {
    if (whole > (std::numeric_limits<std::int64_t>::max() / 10000 - 9) / 10) return std::nullopt;
    whole = whole * 10 + (s[i] - '0');
  }
  // Fraction to ten-thousandths, rounded half to even on the digits beyond the fourth.
  std::int64_t frac = 0;
  int frac_digits = 0;
  bool more_nonzero = false;
  int fifth = -1;
  if (i < s.size() && s[i] == '.') {
    ++i;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, ++digits) {
      if (frac_digits < 4) {
        frac = frac * 10 + (s[i] - '0');
        ++frac_digits;
      } else if (fifth < 0) {
        fifth = s[i] - '0';
      } else if (s[i] != '0') {
        more_nonzero = true;
      }
    }
  }
  if (digits == 0 || i != s.size()) return std::nullopt;
  while (frac_digits < 4) {
    frac *= 10;
    ++frac_digits;
  }
  std::int64_t value = whole * 10000 + frac;
  if (fifth > 5 || (fifth == 5 && (more_nonzero || (value % 2) == 1))) ++value;
  return negative ? -value : value;
}

std::optional<double> ParseDouble(std::u16string_view text) {
  std::string s = ToUtf8(TrimControl(text));
  if (!s.empty() && s[0] == '+') s.erase(0, 1);
  return ParseDecimal(s);
}

std::int64_t RoundHalfEven(double value) {
  return static_cast<std::int64_t>(std::nearbyint(value));
}

std::int32_t ReadInteger(const addin::Variant& value, std::int32_t fallback) {
  if (value.IsEmptyOrNull()) return fallback;
  auto v = ParseInteger(value.ToText());
  if (!v || *v < std::numeric_limits<std::int32_t>::min() ||
      *v > std::numeric_limits<std::int32_t>::max()) {
    return fallback;
  }
  return static_cast<std::int32_t>(*v);
}

std::int64_t ReadAmount(const addin::Variant& value, std::int64_t fallback) {
  if (value.IsEmptyOrNull()) return fallback;
  if (value.IsString()) return ParseAmount(value.string_value()).value_or(fallback);
  if (value.kind() == addin::VariantKind::kCurrency) return value.currency_value();
  // Whole units whose ten-thousandths still fit in 64 bits; anything larger is unreadable.
  constexpr std::int64_t kMaxWhole = std::numeric_limits<std::int64_t>::max() / 10000;
  if (value.IsSigned()) {
    std::int64_t v = value.int_value();
    return v > kMaxWhole || v < -kMaxWhole ? fallback : v * 10000;
  }
  if (value.IsUnsigned()) {
    std::uint64_t v = value.uint_value();
    return v > static_cast<std::uint64_t>(kMaxWhole) ? fallback
                                                     : static_cast<std::int64_t>(v) * 10000;
  }
  if (value.IsBool()) return value.bool_value() ? -10000 : 0;
  double amount = value.double_value() * 10000.0;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63, the first value past the range
  if (!std::isfinite(amount) || amount >= kLimit || amount < -kLimit) return fallback;
  return RoundHalfEven(amount);
}

bool ReadFlag(const addin::Variant& value, bool fallback) {
  if (value.IsEmptyOrNull()) return fallback;
  if (value.IsString()) {
    if (platform::EqualsNoCase(value.string_value(), u"True")) return true;
    if (platform::EqualsNoCase(value.string_value(), u"False")) return false;
    return fallback;
  }
  if (value.IsBool()) return value.bool_value();
  if (value.IsSigned()) return value.int_value() != 0;
  if (value.IsUnsigned()) return value.uint_value() != 0;
  if (value.kind() == addin::VariantKind::kCurrency) return value.currency_value() != 0;
  return value.double_value() != 0;
}

}  // namespace velquora::driver
