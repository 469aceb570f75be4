#pragma once
// The scale's table protocol in one place: command and table codes, answer bytes, field
// widths and ranges, and the fixed sizes of records. Byte layouts: doc/protocol.md; which
// answers accept a frame: answers.h.
#include <cstdint>

namespace velquora::protocol {

// Command codes (first byte of every frame).
inline constexpr std::uint8_t kWrite = 0xF1;
inline constexpr std::uint8_t kClear = 0xF2;
inline constexpr std::uint8_t kDelete = 0xF3;
inline constexpr std::uint8_t kRead = 0xF7;

// Table codes (second byte).
inline constexpr std::uint8_t kTableMainGroup = 0x23;
inline constexpr std::uint8_t kTablePlu = 0x25;
inline constexpr std::uint8_t kTableImage = 0x37;
inline constexpr std::uint8_t kTableShop = 0x3D;
inline constexpr std::uint8_t kTablePresetKey = 0x41;
inline constexpr std::uint8_t kTableSystem = 0x4E;
inline constexpr std::uint8_t kTableGroupImage = 0xA3;

// Answer bytes.
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kNoRecord = 0xE2;  // delete of a record that does not exist

// Record head: record number (BCD) and record size (big-endian), both counted in the size.
inline constexpr int kRecordNumberBytes = 4;
inline constexpr int kRecordSizeBytes = 2;
inline constexpr int kRecordHeadBytes = kRecordNumberBytes + kRecordSizeBytes;
inline constexpr int kFrameHeadBytes = 2;  // command + table

// Largest numbers the BCD fields hold.
inline constexpr std::int64_t kMaxBcd4 = 99999999;
inline constexpr std::int64_t kMaxBcd2 = 9999;
inline constexpr std::int64_t kMaxByte = 255;

// PLU record (table 0x25).
inline constexpr int kPluFixedBytes = 47;  // fields 1-14, 16, 17 and 21
inline constexpr int kPluTareBytes = 2;
inline constexpr int kPluUnitPriceOffset = 11;
inline constexpr int kPluEanOffset = 17;
inline constexpr int kPluEanBytes = 7;
inline constexpr int kPluTareOffset = 36;
inline constexpr std::uint8_t kPluBarcodeFormat = 0x05;
inline constexpr int kMaxNameLines = 4;
inline constexpr int kMaxIngredientLines = 15;
inline constexpr int kMaxSpecMessageLines = 8;
inline constexpr int kMaxShopLines = 3;

// Text blocks.
inline constexpr std::uint8_t kLineEnd = 0x0D;
inline constexpr std::uint8_t kBlockEnd = 0x0C;
inline constexpr int kMaxLineBytes = 255;
inline constexpr int kMaxFont = 9;

// Fixed record sizes.
inline constexpr int kGroupImageRecordBytes = 8;
inline constexpr int kPresetKeyRecordBytes = 89;
inline constexpr int kPresetNameChars = 32;
inline constexpr int kSystemFrameBytes = 14;
inline constexpr int kDeleteFrameBytes = kFrameHeadBytes + kRecordNumberBytes;

}  // namespace velquora::protocol
