#pragma once
// Text for files that others read: always valid UTF-8, whatever it was made from. Host strings
// may hold lone surrogates and files on disk any bytes; a reader such as a text widget may refuse
// a whole text for one bad sequence, so bad input is replaced, never passed on.
#include <string>
#include <string_view>

namespace velquora {

// UTF-16 to UTF-8; each lone surrogate becomes U+FFFD.
std::string ToValidUtf8(std::u16string_view text);

// The bytes as they are when they are valid UTF-8; otherwise each maximal ill-formed part
// (Unicode's "substitution of maximal subparts": an overlong form, a surrogate, a value beyond
// U+10FFFF, a stray or missing continuation byte) becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

}  // namespace velquora
