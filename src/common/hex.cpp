#include "common/hex.h"

namespace velquora {
namespace {

// Sized once and filled in place: the exchange log writes this for every frame.
template <typename Char>
std::basic_string<Char> Encode(std::string_view bytes, std::basic_string_view<Char> separator,
                               const char* digits) {
  const std::size_t step = 2 + separator.size();
  std::basic_string<Char> out(bytes.size() * step, Char{});
  Char* p = out.data();
  for (unsigned char b : bytes) {
    *p++ = static_cast<Char>(digits[b >> 4]);
    *p++ = static_cast<Char>(digits[b & 15]);
    for (Char c : separator) *p++ = c;
  }
  return out;
}

constexpr char kUpper[] = "0123456789ABCDEF";
constexpr char kLower[] = "0123456789abcdef";

}  // namespace

std::string HexText(std::string_view bytes, std::string_view separator, HexDigits digits) {
  return Encode(bytes, separator, digits == HexDigits::kUpper ? kUpper : kLower);
}

std::u16string HexText16(std::string_view bytes, std::u16string_view separator) {
  return Encode(bytes, separator, kUpper);
}

}  // namespace velquora
