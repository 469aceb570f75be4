#pragma once
// Field encodings of the scale protocol: pure functions from values to bytes.
#include <cstdint>
#include <string>
#include <string_view>

namespace velquora::device {

// A counted 8-bit string holding any byte value.
using ByteString = std::string;

// Packed BCD of 2n digits, left-padded with zeros; a longer number keeps its leading 2n digits.
// Negative values are refused.
ByteString IntToBCD(std::int64_t value, int n);
// Binary of n bytes; a value that does not fit is refused.
ByteString IntToBytesBE(std::uint64_t value, int n);
ByteString IntToBytesLE(std::uint64_t value, int n);
// One byte a character; characters code page 866 lacks become '?'.
ByteString TextToCP866(std::u16string_view text);
std::u16string CP866ToText(std::string_view bytes);
// Pairs of hex digits to bytes; stops at the first pair that is not two hex digits (the rest
// of the (length / 2) bytes stay 0x00).
ByteString HexToBytes(std::u16string_view text);
// True when every character is a hex digit and the length is even.
bool IsHexData(std::u16string_view text);
std::int64_t HexToInt(std::u16string_view text);
std::uint8_t SetStatusBit(std::uint8_t byte, int bit, bool value);

}  // namespace velquora::device
