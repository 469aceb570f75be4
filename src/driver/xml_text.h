#pragma once
// The cleaning of the host's XML text before it is parsed: characters XML does not allow are
// dropped (a host passes what its users typed, control characters included).
#include <cstddef>
#include <string>
#include <string_view>

namespace velquora::driver {

// Keeps TAB, LF, CR, U+0020..U+D7FF and U+E000..U+FFFD; drops every other UTF-16 unit.
std::u16string CleanXmlText(std::u16string_view text);
// The same cleaning, straight into UTF-8 of exactly the size needed: the host's text is
// converted once, without an intermediate cleaned copy.
std::string CleanXmlTextUtf8(std::u16string_view text);
// Its two steps, for a caller that owns the buffer: the size in bytes, then the bytes. The
// writing gives the size it wrote, never more than kMaxUtf8PerUnit bytes a unit: a caller with
// room for that much may skip the first step.
std::size_t CleanXmlTextUtf8Size(std::u16string_view text);
std::size_t CleanXmlTextUtf8Write(std::u16string_view text, char* out);
inline constexpr std::size_t kMaxUtf8PerUnit = 3;

}  // namespace velquora::driver
