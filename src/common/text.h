#pragma once
// UTF-8 / UTF-16 conversion and locale-independent case-insensitive comparison.
#include <string>
#include <string_view>

namespace velquora {

std::string ToUtf8(std::u16string_view text);
std::u16string ToUtf16(std::string_view utf8);

// Simple Unicode case mapping to lower case, independent of the process locale.
char32_t FoldCase(char32_t c);

// Equal when every code point matches after case folding (Latin, Cyrillic and the rest of Unicode).
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// Every code point case-folded: two texts are EqualsNoCase exactly when their folded texts are
// equal, so the folded text can key a hash table.
std::u16string FoldedText(std::u16string_view text);

// Removes characters with codes up to and including 32 at both ends.
std::u16string_view TrimControl(std::u16string_view text);
std::string_view TrimControl(std::string_view text);

// ASCII-only upper casing, as the protocol's hexadecimal texts need.
std::u16string AsciiUpper(std::u16string_view text);

// Shorthand for literals and numbers.
std::u16string U16(std::string_view utf8);
std::u16string IntToText16(long long value);

}  // namespace velquora
