#include "common/decimal_text.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace velquora {
namespace {

// An unsigned integer of any size, little-endian 32-bit limbs; just the operations the two
// conversions need.
class BigUInt {
 public:
  explicit BigUInt(std::uint64_t v = 0) {
    while (v) {
      limbs_.push_back(static_cast<std::uint32_t>(v));
      v >>= 32;
    }
  }

  bool IsZero() const { return limbs_.empty(); }

  int BitLength() const {
    if (limbs_.empty()) return 0;
    int bits = static_cast<int>(limbs_.size() - 1) * 32;
    for (std::uint32_t top = limbs_.back(); top; top >>= 1) ++bits;
    return bits;
  }

  void MulAdd(std::uint32_t factor, std::uint32_t addend = 0) {
    std::uint64_t carry = addend;
    for (auto& limb : limbs_) {
      std::uint64_t v = std::uint64_t{limb} * factor + carry;
      limb = static_cast<std::uint32_t>(v);
      carry = v >> 32;
    }
    if (carry) limbs_.push_back(static_cast<std::uint32_t>(carry));
  }

  void MulPow(std::uint32_t base, int exponent) {
    for (; exponent > 0; --exponent) MulAdd(base);
  }

  // Divides in place and returns the remainder.
  std::uint32_t DivSmall(std::uint32_t divisor) {
    std::uint64_t rest = 0;
    for (std::size_t i = limbs_.size(); i-- > 0;) {
      std::uint64_t v = (rest << 32) | limbs_[i];
      limbs_[i] = static_cast<std::uint32_t>(v / divisor);
      rest = v % divisor;
    }
    Trim();
    return static_cast<std::uint32_t>(rest);
  }

  void ShiftLeft(int bits) {
    if (limbs_.empty() || bits <= 0) return;
    std::size_t whole = static_cast<std::size_t>(bits / 32);
    int part = bits % 32;
    limbs_.insert(limbs_.begin(), whole, 0);
    if (part) {
      std::uint32_t carry = 0;
      for (std::size_t i = whole; i < limbs_.size(); ++i) {
        std::uint32_t v = limbs_[i];
        limbs_[i] = (v << part) | carry;
        carry = v >> (32 - part);
      }
      if (carry) limbs_.push_back(carry);
    }
  }

  friend int Compare(const BigUInt& a, const BigUInt& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (std::size_t i = a.limbs_.size(); i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    }
    return 0;
  }

  // *this -= other; requires *this >= other.
  void Subtract(const BigUInt& other) {
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      std::int64_t v = std::int64_t{limbs_[i]} - borrow -
                       (i < other.limbs_.size() ? std::int64_t{other.limbs_[i]} : 0);
      borrow = v < 0;
      limbs_[i] = static_cast<std::uint32_t>(v + (borrow ? (std::int64_t{1} << 32) : 0));
    }
    Trim();
  }

  std::string ToDecimal() const {
    if (limbs_.empty()) return "0";
    BigUInt rest = *this;
    std::string reversed;
    while (!rest.IsZero()) {
      std::uint32_t chunk = rest.DivSmall(1000000000);
      for (int i = 0; i < 9; ++i, chunk /= 10)
        reversed.push_back(static_cast<char>('0' + chunk % 10));
    }
    while (reversed.size() > 1 && reversed.back() == '0') reversed.pop_back();
    return std::string(reversed.rbegin(), reversed.rend());
  }

 private:
  void Trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }

  std::vector<std::uint32_t> limbs_;
};

bool EqualsNoCase(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

// Digits beyond these cannot change the rounding of a double except through the sticky digit
// kept for them (the exact decimal value of a double has at most 767 significant digits).
constexpr std::size_t kMaxDigits = 800;

// The double nearest to digits * 10^exponent (digits without leading zeros, not empty).
std::optional<double> NearestDouble(const std::string& digits, long exponent) {
  long magnitude = exponent + static_cast<long>(digits.size());  // value < 10^magnitude
  if (magnitude > 310) return std::nullopt;                      // beyond the largest double
  if (magnitude < -330) return std::nullopt;                     // below half the smallest
  BigUInt num, den(1);
  for (char c : digits) num.MulAdd(10, static_cast<std::uint32_t>(c - '0'));
  if (exponent >= 0)
    num.MulPow(10, static_cast<int>(exponent));
  else
    den.MulPow(10, static_cast<int>(-exponent));

  // Scale so that the quotient has 54 or 55 bits: a 53-bit significand and a rounding bit.
  int shift = 54 - (num.BitLength() - den.BitLength());
  if (shift > 0)
    num.ShiftLeft(shift);
  else
    den.ShiftLeft(-shift);
  std::uint64_t quotient = 0;
  for (int bit = 55; bit >= 0; --bit) {
    BigUInt part = den;
    part.ShiftLeft(bit);
    if (Compare(num, part) >= 0) {
      num.Subtract(part);
      quotient |= std::uint64_t{1} << bit;
    }
  }
  bool sticky = !num.IsZero();  // value = (quotient + fraction) * 2^-shift

  int length = 0;
  for (std::uint64_t q = quotient; q; q >>= 1) ++length;
  int drop = length - 53;
  // Subnormal results keep fewer bits: the smallest step is 2^-1074.
  if (drop - shift < -1074) drop = -1074 + shift;
  if (drop > 60) return std::nullopt;  // far below the smallest double
  std::uint64_t significand = quotient >> drop;
  std::uint64_t rest = quotient & ((std::uint64_t{1} << drop) - 1);
  std::uint64_t half = drop > 0 ? std::uint64_t{1} << (drop - 1) : 0;
  if (drop > 0 && (rest > half || (rest == half && (sticky || (significand & 1))))) ++significand;
  int binary_exponent = drop - shift;
  if (significand == (std::uint64_t{1} << 53)) {
    significand >>= 1;
    ++binary_exponent;
  }
  if (significand == 0) return std::nullopt;             // rounds to zero
  if (binary_exponent + 52 > 1023) return std::nullopt;  // rounds beyond the largest
  return std::ldexp(static_cast<double>(significand), binary_exponent);
}

}  // namespace

std::optional<double> ParseDecimal(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (EqualsNoCase(text, "inf") || EqualsNoCase(text, "infinity"))
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  if (EqualsNoCase(text, "nan"))
    return negative ? -std::numeric_limits<double>::quiet_NaN()
                    : std::numeric_limits<double>::quiet_NaN();

  std::string digits;  // significant digits, leading zeros left out
  long exponent = 0;   // value = digits * 10^exponent
  bool any_digit = false, dropped_nonzero = false;
  std::size_t i = 0;
  auto take = [&](char c, bool after_point) {
    any_digit = true;
    if (digits.empty() && c == '0') {
      if (after_point) --exponent;
      return;
    }
    if (digits.size() < kMaxDigits) {
      digits.push_back(c);
      if (after_point) --exponent;
    } else {
      dropped_nonzero |= c != '0';
      if (!after_point) ++exponent;
    }
  };
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) take(text[i], false);
  if (i < text.size() && text[i] == '.') {
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) take(text[i], true);
  }
  if (!any_digit) return std::nullopt;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool minus = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    if (i == text.size()) return std::nullopt;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (value < 100000000) value = value * 10 + (text[i] - '0');
    }
    exponent += minus ? -value : value;
  }
  if (i != text.size()) return std::nullopt;
  if (digits.empty()) return negative ? -0.0 : 0.0;
  if (dropped_nonzero) {  // a sticky digit stands for the nonzero digits left out
    digits.push_back('1');
    --exponent;
  }
  auto value = NearestDouble(digits, exponent);
  if (!value) return std::nullopt;
  return negative ? -*value : *value;
}

std::string FormatDecimal(double value, int digits) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  std::string sign = std::signbit(value) ? "-" : "";
  if (std::isinf(value)) return sign + "inf";
  if (digits < 1) digits = 1;
  if (value == 0) return sign + "0";

  // The exact value as decimal digits: significand * 2^e = significand * 5^-e / 10^-e.
  int binary_exponent = 0;
  double fraction = std::frexp(std::fabs(value), &binary_exponent);
  auto significand = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  binary_exponent -= 53;
  BigUInt exact(significand);
  int decimal_exponent = 0;  // value = exact * 10^decimal_exponent
  if (binary_exponent >= 0) {
    exact.ShiftLeft(binary_exponent);
  } else {
    exact.MulPow(5, -binary_exponent);
    decimal_exponent = binary_exponent;
  }
  std::string all = exact.ToDecimal();
  while (all.size() > 1 && all.back() == '0') {
    all.pop_back();
    ++decimal_exponent;
  }
  int point = static_cast<int>(all.size()) + decimal_exponent;  // value = 0.all * 10^point

  // Round to `digits` significant digits, half to even on the exact tail.
  std::string kept =
      all.substr(0, std::min<std::size_t>(all.size(), static_cast<std::size_t>(digits)));
  if (all.size() > kept.size()) {
    char next = all[kept.size()];
    bool beyond = all.find_first_not_of('0', kept.size() + 1) != std::string::npos;
    bool up = next > '5' || (next == '5' && (beyond || ((kept.back() - '0') % 2 == 1)));
    if (up) {
      int j = static_cast<int>(kept.size()) - 1;
      while (j >= 0 && kept[static_cast<std::size_t>(j)] == '9')
        kept[static_cast<std::size_t>(j--)] = '0';
      if (j < 0) {
        kept.insert(kept.begin(), '1');
        kept.pop_back();
        ++point;
      } else {
        ++kept[static_cast<std::size_t>(j)];
      }
    }
  }
  while (kept.size() > 1 && kept.back() == '0') kept.pop_back();

  int x = point - 1;  // exponent of the first digit
  std::string out = sign;
  if (x < -4 || x >= digits) {
    out += kept[0];
    if (kept.size() > 1) out += "." + kept.substr(1);
    char buf[8];
    int e = x < 0 ? -x : x;
    buf[0] = x < 0 ? '-' : '+';
    int n = 1;
    if (e >= 100) buf[n++] = static_cast<char>('0' + e / 100);
    buf[n++] = static_cast<char>('0' + e / 10 % 10);
    buf[n++] = static_cast<char>('0' + e % 10);
    out += "e" + std::string(buf, static_cast<std::size_t>(n));
  } else if (x < 0) {
    out += "0." + std::string(static_cast<std::size_t>(-x - 1), '0') + kept;
  } else {
    auto whole = static_cast<std::size_t>(x + 1);
    if (kept.size() <= whole) {
      out += kept + std::string(whole - kept.size(), '0');
    } else {
      out += kept.substr(0, whole) + "." + kept.substr(whole);
    }
  }
  return out;
}

}  // namespace velquora
