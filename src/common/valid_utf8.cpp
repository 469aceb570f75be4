#include "common/valid_utf8.h"

namespace velquora {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed sequence at `i`, or 0 with `bad` set to the length of the maximal
// ill-formed part to replace (at least 1). The ranges of the second byte are those of Unicode's
// table of well-formed UTF-8 byte sequences.
std::size_t SequenceAt(std::string_view s, std::size_t i, std::size_t& bad) {
  auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return 1;
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;   // no overlong forms
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;   // no overlong forms
    if (b == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    bad = 1;
    return 0;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (i + k >= s.size()) {
      bad = k;
      return 0;
    }
    auto c = static_cast<unsigned char>(s[i + k]);
    bool ok = k == 1 ? (c >= low && c <= high) : (c >= 0x80 && c <= 0xBF);
    if (!ok) {
      bad = k;
      return 0;
    }
  }
  return length;
}

}  // namespace

// The UTF-8 length of the character at `i` and how many units it takes (2 for a pair); a lone
// surrogate becomes U+FFFD, three bytes.
struct Unit {
  std::size_t bytes, units;
};
Unit UnitAt(std::u16string_view text, std::size_t i) {
  char16_t c = text[i];
  if (c < 0x80) return {1, 1};
  if (c < 0x800) return {2, 1};
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
      text[i + 1] <= 0xDFFF) {
    return {4, 2};
  }
  return {3, 1};
}

std::string ToValidUtf8(std::u16string_view text) {
  // Sized first and written in place: every log record passes through here.
  std::size_t size = 0;
  for (std::size_t i = 0; i < text.size();) {
    Unit u = UnitAt(text, i);
    size += u.bytes;
    i += u.units;
  }
  std::string out(size, '\0');
  char* p = out.data();
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = text[i];
    Unit u = UnitAt(text, i);
    if (u.units == 2) c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
    i += u.units;
    if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;  // a lone surrogate
    switch (u.bytes) {
      case 1:
        *p++ = static_cast<char>(c);
        break;
      case 2:
        *p++ = static_cast<char>(0xC0 | (c >> 6));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
        break;
      case 3:
        *p++ = static_cast<char>(0xE0 | (c >> 12));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
        break;
      default:
        *p++ = static_cast<char>(0xF0 | (c >> 18));
        *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *p++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string ValidUtf8(std::string_view bytes) {
  std::size_t i = 0, bad = 0;
  while (i < bytes.size()) {
    std::size_t n = SequenceAt(bytes, i, bad);
    if (n == 0) break;
    i += n;
  }
  if (i == bytes.size()) return std::string(bytes);
  std::string out(bytes.substr(0, i));
  out.reserve(bytes.size() + 8);
  while (i < bytes.size()) {
    std::size_t n = SequenceAt(bytes, i, bad);
    if (n == 0) {
      out += kReplacement;
      i += bad;
    } else {
      out.append(bytes.data() + i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace velquora
