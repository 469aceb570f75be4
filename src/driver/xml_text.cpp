#include "driver/xml_text.h"

#include <cstdint>
#include <cstring>

namespace velquora::driver {

namespace {

bool KeptInXml(char16_t c) {
  return c == 0x09 || c == 0x0A || c == 0x0D || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD);
}

// Four units at once: true when all four are printable ASCII (U+0020..U+007F), the bulk of a
// host document, which is kept and takes one byte each.
bool FourPrintableAscii(const char16_t* p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  constexpr std::uint64_t kHigh = 0xFF80FF80FF80FF80ull;  // any bit at or above 0x80
  constexpr std::uint64_t kBias = 0x0060006000600060ull;  // below 0x20 stays below 0x80
  constexpr std::uint64_t kTop = 0x0080008000800080ull;
  return (x & kHigh) == 0 && ((x + kBias) & kTop) == kTop;
}

}  // namespace

std::u16string CleanXmlText(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (KeptInXml(c)) out += c;
  }
  return out;
}

// Every unit kept is a whole character of the Basic Multilingual Plane (surrogates are dropped),
// so each one is 1, 2 or 3 bytes of UTF-8 on its own.
std::size_t CleanXmlTextUtf8Size(std::u16string_view text) {
  std::size_t size = 0;
  const char16_t* p = text.data();
  const char16_t* end = p + text.size();
  while (p != end) {
    if (end - p >= 4 && FourPrintableAscii(p)) {
      size += 4;
      p += 4;
      continue;
    }
    char16_t c = *p++;
    if (KeptInXml(c)) size += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
  }
  return size;
}

std::string CleanXmlTextUtf8(std::u16string_view text) {
  std::string out(CleanXmlTextUtf8Size(text), '\0');
  CleanXmlTextUtf8Write(text, out.data());
  return out;
}

std::size_t CleanXmlTextUtf8Write(std::u16string_view text, char* const out) {
  char* p = out;
  const char16_t* in = text.data();
  const char16_t* end = in + text.size();
  while (in != end) {
    if (end - in >= 4 && FourPrintableAscii(in)) {
      for (int k = 0; k < 4; ++k) *p++ = static_cast<char>(in[k]);
      in += 4;
      continue;
    }
    char16_t c = *in++;
    if (!KeptInXml(c)) continue;
    if (c < 0x80) {
      *p++ = static_cast<char>(c);
    } else if (c < 0x800) {
      *p++ = static_cast<char>(0xC0 | (c >> 6));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (c >> 12));
      *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return static_cast<std::size_t>(p - out);
}

}  // namespace velquora::driver
