#pragma once
// UTF-8 / UTF-16 conversion and small text helpers. Comparison without regard to letter case
// needs the system's case mapping: platform/case_mapping.h.
#include <cstddef>
#include <string>
#include <string_view>

namespace velquora {

std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view utf8);

// The code point at `i`, moving `i` past it; a lone surrogate comes back as itself.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i);
// Appends `c` as one or two UTF-16 units.
void AppendUtf16(std::u16string& out, char32_t c);

// Removes characters with codes up to and including 32 at both ends.
std::u16string_view TrimControl(std::u16string_view text);
std::string_view TrimControl(std::string_view text);

// ASCII-only upper casing, as the protocol's hexadecimal texts need.
std::u16string AsciiUpper(std::u16string_view text);

// Shorthand for literals and numbers.
std::u16string U16(std::string_view utf8);
std::u16string IntToText16(long long value);

}  // namespace velquora
