#pragma once
// Field encodings of the scale protocol: pure functions from values to bytes.
#include <cstdint>
#include <string>
#include <string_view>

namespace velquora::protocol {

// A counted 8-bit string holding any byte value: frames, record fields, answers.
using ByteString = std::string;

// Packed BCD of 2n digits in n bytes, left-padded with zeros; a longer number keeps its
// leading 2n digits. Negative values are refused.
ByteString PackedBcd(std::int64_t value, int n);
// Binary of n bytes, most or least significant byte first; a value that does not fit is
// refused.
ByteString BigEndian(std::uint64_t value, int n);
ByteString LittleEndian(std::uint64_t value, int n);
// One byte a character; characters code page 866 lacks become '?'.
ByteString Cp866Bytes(std::u16string_view text);
std::u16string Cp866Text(std::string_view bytes);
// Pairs of hex digits to bytes; stops at the first pair that is not two hex digits (the rest
// of the (length / 2) bytes stay 0x00).
ByteString BytesFromHex(std::u16string_view text);
// True when every character is a hex digit and the length is even.
bool IsHexText(std::u16string_view text);
// The number a hex text spells (an "h" at its end allowed); 0 when it is not one.
std::int64_t NumberFromHex(std::u16string_view text);
// `byte` with bit `bit` (0 the lowest) set or cleared.
std::uint8_t WithBit(std::uint8_t byte, int bit, bool on);

}  // namespace velquora::protocol
