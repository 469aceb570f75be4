#include "common/valid_utf8.h"

namespace velquora {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

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

std::string ToValidUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = text[i++];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c >= 0xD800 && c <= 0xDBFF && i < text.size() && text[i] >= 0xDC00 &&
               text[i] <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00));
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out += kReplacement;
    } else {
      AppendUtf8(out, c);
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
