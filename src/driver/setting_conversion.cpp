#include "driver/setting_conversion.h"

#include <cmath>
#include <limits>

#include "common/error.h"
#include "common/text.h"
#include "driver/attribute_values.h"
#include "platform/case_mapping.h"

namespace velquora::driver {
namespace {

using addin::Variant;
using addin::VariantKind;

[[noreturn]] void CannotConvert(const Variant& value, const char* type) {
  throw Error(ErrorKind::kInvalid,
              u"Не удалось преобразовать значение \"" + value.ToText() + u"\" к типу " + U16(type));
}

// Numbers of every kind as a double, for the rounding conversions.
bool AsNumber(const Variant& v, double& out) {
  if (v.IsSigned())
    out = static_cast<double>(v.int_value());
  else if (v.IsUnsigned())
    out = static_cast<double>(v.uint_value());
  else if (v.IsFloating() || v.kind() == VariantKind::kDate)
    out = v.double_value();
  else
    return false;
  return true;
}

}  // namespace

bool SettingToBool(const Variant& v) {
  if (v.IsEmptyOrNull()) return false;
  if (v.IsBool()) return v.bool_value();
  double number;
  if (AsNumber(v, number)) return number != 0;
  if (v.IsString()) {
    if (platform::EqualsNoCase(TrimControl(v.string_value()), u"true")) return true;
    if (platform::EqualsNoCase(TrimControl(v.string_value()), u"false")) return false;
    if (auto d = ParseDouble(v.string_value())) return *d != 0;
  }
  CannotConvert(v, "Boolean");
}

std::int32_t SettingToInt(const Variant& v) {
  if (v.IsEmptyOrNull()) return 0;
  if (v.IsBool()) return v.bool_value() ? -1 : 0;
  std::int64_t result;
  if (v.IsSigned()) {
    result = v.int_value();
  } else if (v.IsUnsigned()) {
    if (v.uint_value() > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
      CannotConvert(v, "Integer");
    result = static_cast<std::int64_t>(v.uint_value());
  } else if (v.kind() == VariantKind::kCurrency) {
    result = RoundHalfEven(static_cast<double>(v.currency_value()) / 10000.0);
  } else if (v.IsFloating() || v.kind() == VariantKind::kDate) {
    double d = v.double_value();
    if (!std::isfinite(d) || std::fabs(d) > 2147483648.0) CannotConvert(v, "Integer");
    result = RoundHalfEven(d);
  } else if (v.IsString()) {
    auto parsed = ParseInteger(v.string_value());
    if (!parsed) CannotConvert(v, "Integer");
    result = *parsed;
  } else {
    CannotConvert(v, "Integer");
  }
  if (result < std::numeric_limits<std::int32_t>::min() ||
      result > std::numeric_limits<std::int32_t>::max()) {
    CannotConvert(v, "Integer");
  }
  return static_cast<std::int32_t>(result);
}

std::u16string SettingToStr(const Variant& v) {
  if (v.kind() == VariantKind::kArray) CannotConvert(v, "String");
  return v.ToText();
}

}  // namespace velquora::driver
