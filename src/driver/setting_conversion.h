#pragma once
// Conversions of a setting's dynamic value to the getters' types. A value that does not
// convert raises an error naming the value and the type.
#include <cstdint>
#include <string>

#include "addin/variant.h"

namespace velquora::driver {

bool SettingToBool(const addin::Variant& value);
std::int32_t SettingToInt(const addin::Variant& value);
std::u16string SettingToStr(const addin::Variant& value);

}  // namespace velquora::driver
