#include "driver/utilities.h"

#include <cstring>

#include <charconv>
#include <cmath>
#include <limits>

#include "common/decimal_text.h"
#include "common/error.h"
#include "common/text.h"
#include "platform/case_mapping.h"
#include "platform/library_file.h"
#include "platform/system_info.h"

namespace velquora::driver {

std::u16string EquipmentTypeName(int type) {
  static const char16_t* const kNames[] = {
      u"СканерШтрихкода",      u"СчитывательМагнитныхКарт", u"ФискальныйРегистратор",
      u"ПринтерЧеков",         u"ПринтерЭтикеток",          u"ДисплейПокупателя",
      u"ТерминалСбораДанных",  u"ЭквайринговыйТерминал",    u"ЭлектронныеВесы",
      u"ВесыСПечатьюЭтикеток", u"СчитывательRFID",          u"ККТ",
      u"Видеокамера",          u"ЭлектронныеЗамки",         u"НеизвестныйТипОборудования"};
  if (type < 0 || type >= static_cast<int>(std::size(kNames)))
    throw Error(ErrorKind::kInvalid, "Enum value unacceptable");
  return kNames[type];
}

namespace {
bool KeptInXml(char16_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD);
}
}  // namespace

std::u16string CleanXmlText(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (KeptInXml(c)) out += c;
  }
  return out;
}

// Four units at once: true when all four are printable ASCII (U+0020..U+007F), the bulk of a
// host document, which is kept and takes one byte each.
bool FourPrintableAscii(const char16_t* p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  constexpr std::uint64_t kHigh = 0xFF80FF80FF80FF80ull;  // any bit at or above 0x80
  constexpr std::uint64_t kBias = 0x0060006000600060ull;  // below 0x20 stays below 0x80
  constexpr std::uint64_t kTop = 0x0080008000800080ull;
  return (x & kHigh) == 0 && ((x + kBias) & kTop) == kTop;
}

// Every unit kept is a whole character of the Basic Multilingual Plane (surrogates are dropped),
// so each one is 1, 2 or 3 bytes of UTF-8 on its own.
std::size_t CleanXmlTextUtf8Size(std::u16string_view text) {
  std::size_t size = 0;
  const char16_t* p = text.data();
  const char16_t* end = p + text.size();
  while (p != end) {
    if (end - p >= 4 && FourPrintableAscii(p)) {
      size += 4;
      p += 4;
      continue;
    }
    char16_t c = *p++;
    if (KeptInXml(c)) size += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
  }
  return size;
}

std::string CleanXmlTextUtf8(std::u16string_view text) {
  std::string out(CleanXmlTextUtf8Size(text), '\0');
  CleanXmlTextUtf8Write(text, out.data());
  return out;
}

void CleanXmlTextUtf8Write(std::u16string_view text, char* p) {
  const char16_t* in = text.data();
  const char16_t* end = in + text.size();
  while (in != end) {
    if (end - in >= 4 && FourPrintableAscii(in)) {
      for (int k = 0; k < 4; ++k) *p++ = static_cast<char>(in[k]);
      in += 4;
      continue;
    }
    char16_t c = *in++;
    if (!KeptInXml(c)) continue;
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
}

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

std::int32_t VarToIntDef(const addin::Variant& value, std::int32_t def) {
  if (value.IsEmptyOrNull()) return def;
  auto v = ParseInteger(value.ToText());
  if (!v || *v < std::numeric_limits<std::int32_t>::min() ||
      *v > std::numeric_limits<std::int32_t>::max()) {
    return def;
  }
  return static_cast<std::int32_t>(*v);
}

std::int64_t VarToCurrDef(const addin::Variant& value, std::int64_t def) {
  if (value.IsEmptyOrNull()) return def;
  if (value.IsString()) return ParseAmount(value.string_value()).value_or(def);
  if (value.kind() == addin::VariantKind::Currency) return value.currency_value();
  // Whole units whose ten-thousandths still fit in 64 bits; anything larger is unreadable.
  constexpr std::int64_t kMaxWhole = std::numeric_limits<std::int64_t>::max() / 10000;
  if (value.IsSigned()) {
    std::int64_t v = value.int_value();
    return v > kMaxWhole || v < -kMaxWhole ? def : v * 10000;
  }
  if (value.IsUnsigned()) {
    std::uint64_t v = value.uint_value();
    return v > static_cast<std::uint64_t>(kMaxWhole) ? def : static_cast<std::int64_t>(v) * 10000;
  }
  if (value.IsBool()) return value.bool_value() ? -10000 : 0;
  double amount = value.double_value() * 10000.0;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63, the first value past the range
  if (!std::isfinite(amount) || amount >= kLimit || amount < -kLimit) return def;
  return RoundHalfEven(amount);
}

bool VarToBoolDef(const addin::Variant& value, bool def) {
  if (value.IsEmptyOrNull()) return def;
  if (value.IsString()) {
    if (platform::EqualsNoCase(value.string_value(), u"True")) return true;
    if (platform::EqualsNoCase(value.string_value(), u"False")) return false;
    return def;
  }
  if (value.IsBool()) return value.bool_value();
  if (value.IsSigned()) return value.int_value() != 0;
  if (value.IsUnsigned()) return value.uint_value() != 0;
  if (value.kind() == addin::VariantKind::Currency) return value.currency_value() != 0;
  return value.double_value() != 0;
}

std::u16string GetFileVersionText(const std::string& path) {
  return ToUtf16(platform::FileVersionText(path.empty() ? platform::OwnLibraryPath() : path));
}

}  // namespace velquora::driver
