#pragma once
// The one hexadecimal encoder of the library: bytes as pairs of hexadecimal digits.
#include <string>
#include <string_view>

namespace velquora {

enum class HexDigits { kUpper, kLower };

// Each byte as two digits, `separator` after every byte (after the last one too).
std::string HexText(std::string_view bytes, std::string_view separator = {},
                    HexDigits digits = HexDigits::kUpper);
// The same as UTF-16 text, for texts that go to the host or the log.
std::u16string HexText16(std::string_view bytes, std::u16string_view separator = {});

}  // namespace velquora
