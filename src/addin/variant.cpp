#include "addin/variant.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/decimal_text.h"
#include "common/hex.h"
#include "common/text.h"

namespace velquora::addin {

Variant Variant::Null() {
  Variant v;
  v.kind_ = VariantKind::kNull;
  return v;
}

Variant Variant::Bool(bool value) {
  Variant v;
  v.kind_ = VariantKind::kBool;
  v.b_ = value;
  return v;
}

Variant Variant::Int(std::int64_t value, VariantKind kind) {
  Variant v;
  v.kind_ = kind;
  v.i_ = value;
  return v;
}

Variant Variant::UInt(std::uint64_t value, VariantKind kind) {
  Variant v;
  v.kind_ = kind;
  v.u_ = value;
  return v;
}

Variant Variant::Double(double value, VariantKind kind) {
  Variant v;
  v.kind_ = kind;
  v.d_ = value;
  return v;
}

Variant Variant::Currency(std::int64_t ten_thousandths) {
  Variant v;
  v.kind_ = VariantKind::kCurrency;
  v.i_ = ten_thousandths;
  return v;
}

Variant Variant::Date(double days) {
  Variant v;
  v.kind_ = VariantKind::kDate;
  v.d_ = days;
  return v;
}

Variant Variant::String(std::u16string text) {
  Variant v;
  v.kind_ = VariantKind::kString;
  v.s_ = std::move(text);
  return v;
}

Variant Variant::Bytes(std::vector<std::uint8_t> elements) {
  Variant v;
  v.kind_ = VariantKind::kByteArray;
  v.bytes_ = std::move(elements);
  return v;
}

Variant Variant::Array(std::vector<Variant> items) {
  Variant v;
  v.kind_ = VariantKind::kArray;
  v.items_ = std::move(items);
  return v;
}

double Variant::double_value() const {
  if (kind_ == VariantKind::kCurrency) return static_cast<double>(i_) / 10000.0;
  return d_;
}

std::string FormatDouble(double value, int digits) {
  return FormatDecimal(value, digits);
}

std::string FormatCurrency(std::int64_t v) {
  std::string sign = v < 0 ? "-" : "";
  std::uint64_t mag = v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  std::string text = sign + std::to_string(mag / 10000);
  if (std::uint64_t frac = mag % 10000) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04u", static_cast<unsigned>(frac));
    std::string f = digits;
    while (f.back() == '0') f.pop_back();
    text += "." + f;
  }
  return text;
}

namespace {

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 1 January of year 1 to the given date.
long long DayNumber(int y, int m, int d) {
  long long days = 0;
  long long py = y - 1;
  days = py * 365 + py / 4 - py / 100 + py / 400;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  return days + d - 1;
}

const long long kEpoch = DayNumber(1899, 12, 30);

void DecodeDate(double days, int& y, int& m, int& d, int& hh, int& nn, int& ss) {
  double whole = std::trunc(days);
  double frac = std::fabs(days - whole);
  long long n = static_cast<long long>(whole) + kEpoch;
  y = static_cast<int>(n / 366) + 1;
  while (DayNumber(y + 1, 1, 1) <= n) ++y;
  m = 1;
  while (m < 12 && DayNumber(y, m + 1, 1) <= n) ++m;
  d = static_cast<int>(n - DayNumber(y, m, 1)) + 1;
  long long secs = std::llround(frac * 86400.0);
  if (secs >= 86400) secs = 86399;
  hh = static_cast<int>(secs / 3600);
  nn = static_cast<int>(secs / 60 % 60);
  ss = static_cast<int>(secs % 60);
}

}  // namespace

bool DaysFromDateTime(int year, int month, int day, int hour, int minute, int second,
                      double& days) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour >= 24 || minute >= 60 || second >= 60) {
    return false;
  }
  double count = static_cast<double>(DayNumber(year, month, day) - kEpoch);
  double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
  days = count >= 0 ? count + time : count - time;
  return true;
}

std::u16string Variant::ToText() const {
  switch (kind_) {
    case VariantKind::kEmpty:
    case VariantKind::kNull:
      return {};
    case VariantKind::kBool:
      return b_ ? u"True" : u"False";
    case VariantKind::kInt8:
    case VariantKind::kInt16:
    case VariantKind::kInt32:
    case VariantKind::kInt64:
      return IntToText16(i_);
    case VariantKind::kUInt8:
    case VariantKind::kUInt16:
    case VariantKind::kUInt32:
    case VariantKind::kUInt64:
      return ToUtf16(std::to_string(u_));
    case VariantKind::kSingle:
    case VariantKind::kDouble:
      return ToUtf16(FormatDouble(d_));
    case VariantKind::kCurrency:
      return ToUtf16(FormatCurrency(i_));
    case VariantKind::kDate: {
      // Far past any calendar (beyond year 270 million either way) a day count is not even a
      // whole number of days that fits the arithmetic: show the number itself.
      if (!std::isfinite(d_) || std::fabs(d_) > 1e11) return ToUtf16(FormatDouble(d_));
      int y, m, d, hh, nn, ss;
      DecodeDate(d_, y, m, d, hh, nn, ss);
      char buf[40];
      std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d", d, m, y, hh, nn, ss);
      return ToUtf16(buf);
    }
    case VariantKind::kString:
      return s_;
    case VariantKind::kByteArray: {
      // A host byte block arrives with one extra element; show the block's own length.
      std::size_t length = bytes_.empty() ? 0 : bytes_.size() - 1;
      std::string text = "<" + std::to_string(length) + " bytes";
      if (length > 0) {
        std::string shown = HexText(std::string_view(reinterpret_cast<const char*>(bytes_.data()),
                                                     std::min<std::size_t>(length, 16)),
                                    " ");
        shown.pop_back();  // the separator after the last byte
        text += ": " + shown;
      }
      if (length > 16) text += " ...";
      return ToUtf16(text + ">");
    }
    case VariantKind::kArray: {
      std::u16string text = u"{";
      for (std::size_t i = 0; i < items_.size(); ++i)
        text += (i ? u"; " : u"") + items_[i].ToText();
      return text + u"}";
    }
  }
  return {};
}

bool Variant::operator==(const Variant& o) const {
  return kind_ == o.kind_ && b_ == o.b_ && i_ == o.i_ && u_ == o.u_ &&
         (d_ == o.d_ || (std::isnan(d_) && std::isnan(o.d_))) && s_ == o.s_ && bytes_ == o.bytes_ &&
         items_ == o.items_;
}

}  // namespace velquora::addin
