#include "protocol/encoding.h"

#include <array>

#include "common/error.h"
#include "common/text.h"

namespace velquora::protocol {
namespace {

// Code page 866, bytes 0x80..0xFF.
constexpr std::array<char16_t, 128> kUpperHalf = {
    0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B,
    0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433,
    0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B,
    0x044C, 0x044D, 0x044E, 0x044F, 0x0401, 0x0451, 0x0404, 0x0454, 0x0407, 0x0457, 0x040E, 0x045E,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x2116, 0x00A4, 0x25A0, 0x00A0};

char Cp866Byte(char16_t c) {
  if (c < 0x80) return static_cast<char>(c);
  // Cyrillic letters are the common case; look them up directly.
  if (c >= 0x0410 && c <= 0x043F) return static_cast<char>(0x80 + (c - 0x0410));
  if (c >= 0x0440 && c <= 0x044F) return static_cast<char>(0xE0 + (c - 0x0440));
  for (std::size_t i = 0; i < kUpperHalf.size(); ++i) {
    if (kUpperHalf[i] == c) return static_cast<char>(0x80 + i);
  }
  return '?';
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

ByteString PackedBcd(std::int64_t value, int n) {
  if (value < 0)
    throw Error(ErrorKind::kInvalid, "IntToBCD: отрицательное значение " + std::to_string(value));
  std::string digits = std::to_string(value);
  std::size_t width = static_cast<std::size_t>(2 * n);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  ByteString out(static_cast<std::size_t>(n), '\0');
  for (int i = 0; i < n; ++i) {
    out[i] = static_cast<char>(((digits[2 * i] - '0') << 4) | (digits[2 * i + 1] - '0'));
  }
  return out;
}

ByteString BigEndian(std::uint64_t value, int n) {
  if (n < 8 && (value >> (8 * n)) != 0) {
    throw Error(ErrorKind::kInvalid, "IntToBytesBE: значение " + std::to_string(value) +
                                         " не помещается в " + std::to_string(n) + " байт");
  }
  ByteString out(static_cast<std::size_t>(n), '\0');
  for (int i = n - 1; i >= 0; --i, value >>= 8) out[i] = static_cast<char>(value & 0xFF);
  return out;
}

ByteString LittleEndian(std::uint64_t value, int n) {
  ByteString be = BigEndian(value, n);
  return ByteString(be.rbegin(), be.rend());
}

ByteString Cp866Bytes(std::u16string_view text) {
  ByteString out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    // A surrogate pair is one character the code page lacks.
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF)
      ++i;
    out += (c >= 0xD800 && c <= 0xDFFF) ? '?' : Cp866Byte(c);
  }
  return out;
}

std::u16string Cp866Text(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char b : bytes) out += b < 0x80 ? char16_t{b} : kUpperHalf[b - 0x80];
  return out;
}

ByteString BytesFromHex(std::u16string_view text) {
  ByteString out(text.size() / 2, '\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    int hi = HexValue(text[2 * i]), lo = HexValue(text[2 * i + 1]);
    if (hi < 0 || lo < 0) break;
    out[i] = static_cast<char>((hi << 4) | lo);
  }
  return out;
}

bool IsHexText(std::u16string_view text) {
  if (text.size() % 2 != 0) return false;
  for (char16_t c : text)
    if (HexValue(c) < 0) return false;
  return true;
}

std::int64_t NumberFromHex(std::u16string_view text) {
  std::u16string upper = AsciiUpper(text);
  if (!upper.empty() && upper.back() == u'H') upper.pop_back();
  std::int64_t result = 0;
  for (char16_t c : upper) {
    int v = HexValue(c);
    if (v < 0) return 0;
    if (result > (INT64_MAX - 15) / 16) return 0;  // longer than any record size
    result = result * 16 + v;
  }
  return result;
}

std::uint8_t WithBit(std::uint8_t byte, int bit, bool on) {
  auto mask = static_cast<std::uint8_t>(1u << bit);
  return on ? static_cast<std::uint8_t>(byte | mask) : static_cast<std::uint8_t>(byte & ~mask);
}

}  // namespace velquora::protocol
