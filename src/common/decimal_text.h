#pragma once
// Decimal text of binary doubles, exact and independent of any locale: the C library's
// conversions follow the process locale (the host may run with "," as the decimal mark) and
// switching it is not thread-safe.
#include <optional>
#include <string>
#include <string_view>

namespace velquora {

// Reads "[-]digits[.digits][e[+-]digits]" (either side of the point may be empty, not both),
// "inf", "infinity" or "nan" in any case; the whole text must match. The result is the double
// nearest to the exact value, ties to even. Nothing when the text does not match or the value
// is beyond the range of doubles (including a nonzero value that would become zero).
std::optional<double> ParseDecimal(std::string_view text);

// The value with `digits` significant digits (1 when less), rounded half to even on the exact
// binary value, in the form printf's "%.*g" gives: trailing zeros dropped, exponent form when
// the exponent is below -4 or not below `digits`; "inf", "-inf", "nan".
std::string FormatDecimal(double value, int digits);

}  // namespace velquora
