#pragma once
// The component's dynamic value: what handlers receive as arguments and return as results.
#include <cstdint>
#include <string>
#include <vector>

namespace velquora::addin {

enum class VariantKind : std::uint8_t {
  kEmpty,
  kNull,
  kBool,
  kInt8,
  kInt16,
  kInt32,
  kInt64,
  kUInt8,
  kUInt16,
  kUInt32,
  kUInt64,
  kSingle,
  kDouble,
  kCurrency,  // fixed point, four decimals, held as a count of ten-thousandths
  kDate,      // days since 30 December 1899, the fraction is the time of day
  kString,
  kByteArray,
  kArray,
};

class Variant {
 public:
  Variant() = default;
  static Variant Null();
  static Variant Bool(bool value);
  static Variant Int(std::int64_t value, VariantKind kind = VariantKind::kInt32);
  static Variant UInt(std::uint64_t value, VariantKind kind = VariantKind::kUInt32);
  static Variant Double(double value, VariantKind kind = VariantKind::kDouble);
  static Variant Currency(std::int64_t ten_thousandths);
  static Variant Date(double days);
  static Variant String(std::u16string text);
  static Variant Bytes(std::vector<std::uint8_t> elements);
  static Variant Array(std::vector<Variant> items);

  VariantKind kind() const { return kind_; }
  bool IsEmptyOrNull() const { return kind_ == VariantKind::kEmpty || kind_ == VariantKind::kNull; }
  bool IsBool() const { return kind_ == VariantKind::kBool; }
  bool IsSigned() const { return kind_ >= VariantKind::kInt8 && kind_ <= VariantKind::kInt64; }
  bool IsUnsigned() const { return kind_ >= VariantKind::kUInt8 && kind_ <= VariantKind::kUInt64; }
  bool IsInteger() const { return IsSigned() || IsUnsigned(); }
  bool IsFloating() const {
    return kind_ >= VariantKind::kSingle && kind_ <= VariantKind::kCurrency;
  }
  bool IsString() const { return kind_ == VariantKind::kString; }

  bool bool_value() const { return b_; }
  std::int64_t int_value() const { return i_; }
  std::uint64_t uint_value() const { return u_; }
  double double_value() const;  // floating kinds and dates
  std::int64_t currency_value() const { return i_; }
  const std::u16string& string_value() const { return s_; }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  const std::vector<Variant>& items() const { return items_; }

  // The text form used wherever a value is shown or read as text: integers in decimal,
  // floating numbers with up to 15 significant digits, "True"/"False", dates as
  // dd.mm.yyyy hh:nn:ss, byte blocks as their length and first bytes in hexadecimal.
  std::u16string ToText() const;

  bool operator==(const Variant& other) const;

 private:
  VariantKind kind_ = VariantKind::kEmpty;
  bool b_ = false;
  std::int64_t i_ = 0;
  std::uint64_t u_ = 0;
  double d_ = 0;
  std::u16string s_;
  std::vector<std::uint8_t> bytes_;
  std::vector<Variant> items_;
};

// The arguments of one call, in order.
using Arguments = std::vector<Variant>;

// Number formatting shared by the text forms: up to `digits` significant digits, "." always.
std::string FormatDouble(double value, int digits = 15);
std::string FormatCurrency(std::int64_t ten_thousandths);

// Calendar date and time to the day count; false when the parts do not form a valid date.
bool DaysFromDateTime(int year, int month, int day, int hour, int minute, int second, double& days);

}  // namespace velquora::addin
