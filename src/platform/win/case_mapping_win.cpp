#include "platform/case_mapping.h"
#include "platform/win/win_text.h"

namespace velquora::platform {

// The invariant locale's simple mapping: it does not change with the user's or the process's
// locale, as the private C.UTF-8 locale on Linux does not.
char32_t ToLowerSimple(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  wchar_t in[2], out[4];
  int units = 1;
  if (c < 0x10000) {
    if (c >= 0xD800 && c <= 0xDFFF) return c;  // a lone surrogate has no case
    in[0] = static_cast<wchar_t>(c);
  } else if (c <= 0x10FFFF) {
    in[0] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
    in[1] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    units = 2;
  } else {
    return c;
  }
  int n =
      LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, in, units, out, 4, nullptr, nullptr, 0);
  if (n == 1 && units == 1) return static_cast<char16_t>(out[0]);
  if (n == 2 && units == 2 && out[0] >= 0xD800 && out[0] <= 0xDBFF)
    return 0x10000 + ((static_cast<char32_t>(out[0]) - 0xD800) << 10) +
           (static_cast<char32_t>(out[1]) - 0xDC00);
  return c;  // the mapping changed the length: a simple mapping keeps the character
}

}  // namespace velquora::platform
