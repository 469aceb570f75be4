#include "platform/case_mapping.h"

#include "common/text.h"

namespace velquora::platform {

char32_t FoldCase(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  return ToLowerSimple(c);
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (FoldCase(NextCodePoint(a, i)) != FoldCase(NextCodePoint(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

std::u16string FoldedText(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) AppendUtf16(out, FoldCase(NextCodePoint(text, i)));
  return out;
}

}  // namespace velquora::platform
