#pragma once
// Comparison without regard to letter case, independent of the process locale (the host may
// switch its own): Latin, Cyrillic and the rest of Unicode by simple lower-case mapping.
#include <string>
#include <string_view>

namespace velquora::platform {

// The system's simple lower-case mapping of one code point (one implementation per system).
char32_t ToLowerSimple(char32_t c);

char32_t FoldCase(char32_t c);
// Equal when every code point matches after case folding.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);
// Every code point case-folded: two texts are EqualsNoCase exactly when their folded texts are
// equal, so the folded text can key a hash table.
std::u16string FoldedText(std::u16string_view text);

}  // namespace velquora::platform
