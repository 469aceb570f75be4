// Field encodings byte for byte.
#include <gtest/gtest.h>

#include "common/hex.h"
#include "protocol/encoding.h"

#include "support/test_helpers.h"

namespace velquora::protocol {
namespace {

ByteString B(std::initializer_list<int> bytes) {
  return test::Bytes(bytes);
}

TEST(Encoding, PackedBcd) {
  struct Case {
    std::int64_t value;
    int n;
    ByteString bytes;
  } cases[] = {
      {1234, 2, B({0x12, 0x34})},
      {7, 4, B({0x00, 0x00, 0x00, 0x07})},
      {123456, 2, B({0x12, 0x34})},  // too many digits: the leading ones
      {0, 9, ByteString(9, '\0')},
      {90, 4, B({0x00, 0x00, 0x00, 0x90})},
      {123456789, 4, B({0x12, 0x34, 0x56, 0x78})},
      {32, 32, ByteString(31, '\0') + B({0x32})},
  };
  for (const auto& c : cases) EXPECT_EQ(PackedBcd(c.value, c.n), c.bytes) << c.value;
  EXPECT_THROW(PackedBcd(-1, 2), std::exception);
}

TEST(Encoding, BinaryIntegers) {
  EXPECT_EQ(BigEndian(300, 2), B({0x01, 0x2C}));
  EXPECT_EQ(LittleEndian(300, 4), B({0x2C, 0x01, 0x00, 0x00}));
  EXPECT_EQ(BigEndian(255, 1), B({0xFF}));
  EXPECT_THROW(BigEndian(256, 1), std::exception);  // never a silently different number
  EXPECT_THROW(LittleEndian(70000, 2), std::exception);
}

TEST(Encoding, Hex) {
  EXPECT_EQ(HexText16(B({0xF2, 0x25}), u" "), u"F2 25 ");
  EXPECT_EQ(HexText16(B({0x06}), u""), u"06");
  EXPECT_EQ(NumberFromHex(u"0030"), 48);
  EXPECT_EQ(NumberFromHex(u"ffh"), 255);
  EXPECT_EQ(NumberFromHex(u"00G0"), 0);
  EXPECT_EQ(NumberFromHex(u""), 0);
  EXPECT_EQ(BytesFromHex(u"f1250a"), B({0xF1, 0x25, 0x0A}));
  EXPECT_EQ(BytesFromHex(u"F12"), B({0xF1}));
  EXPECT_EQ(BytesFromHex(u"F1ZZ25"), B({0xF1, 0x00, 0x00}));
  EXPECT_TRUE(IsHexText(u"f1250A"));
  EXPECT_FALSE(IsHexText(u"F12"));
  EXPECT_FALSE(IsHexText(u"F1ZZ"));
}

TEST(Encoding, StatusBits) {
  EXPECT_EQ(WithBit(0x74, 0, true), 0x75);
  EXPECT_EQ(WithBit(0x75, 0, false), 0x74);
  EXPECT_EQ(WithBit(0x1D, 6, true), 0x5D);
}

// Cyrillic letters, a character the code page lacks ('?'), and the way back.
TEST(Encoding, CodePage866) {
  EXPECT_EQ(Cp866Bytes(u"Сыр"), B({0x91, 0xEB, 0xE0}));
  EXPECT_EQ(Cp866Bytes(u"a😀b"), "a?b");
  EXPECT_EQ(Cp866Text(Cp866Bytes(u"Ёлка №5 ёж")), u"Ёлка №5 ёж");
}

}  // namespace
}  // namespace velquora::protocol
