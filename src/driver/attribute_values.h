#pragma once
// Readers of the values the host gives: attribute texts of its documents and settings, read as
// numbers, amounts and flags the same way whatever the process locale.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "addin/variant.h"

namespace velquora::driver {

// An integer attribute that is absent or unreadable reads as this number, as the host's
// documents have always been read (the text "-999999" itself reads the same).
inline constexpr std::int32_t kNoNumber = -999999;

// `value`'s text as a signed 32-bit decimal integer, blanks and control characters around it
// ignored; `fallback` when it is null, empty or not such an integer.
std::int32_t ReadInteger(const addin::Variant& value, std::int32_t fallback);
// An amount in ten-thousandths: text is read with "." as the decimal separator; `fallback`
// when it is null or not an amount.
std::int64_t ReadAmount(const addin::Variant& value, std::int64_t fallback);
// "True" or "False" in any letter case (numbers: zero or not); `fallback` otherwise.
bool ReadFlag(const addin::Variant& value, bool fallback);

// The text steps behind the readers, shared with the settings conversions.
std::optional<std::int64_t> ParseInteger(std::u16string_view text);
std::optional<std::int64_t> ParseAmount(std::u16string_view text);  // ten-thousandths
std::optional<double> ParseDouble(std::u16string_view text);
// Rounds to an integer, halves to the even neighbour.
std::int64_t RoundHalfEven(double value);

}  // namespace velquora::driver
