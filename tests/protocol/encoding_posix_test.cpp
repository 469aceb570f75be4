// The CP866 table against the C library's converter (iconv), which only POSIX systems have.
#include <gtest/gtest.h>
#include <iconv.h>

#include "protocol/encoding.h"

namespace velquora::protocol {
namespace {

// Every code point of the Basic Multilingual Plane converts as the C library's CP866 does;
// a character the code page lacks becomes '?'.
TEST(Encoding, CodePage866AgreesWithIconv) {
  iconv_t cd = iconv_open("CP866", "UTF-16LE");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  int mismatches = 0;
  for (char32_t c = 0; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    char16_t unit = static_cast<char16_t>(c);
    char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    char out[4] = {};
    char* ip = in;
    char* op = out;
    std::size_t il = 2, ol = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::size_t rc = iconv(cd, &ip, &il, &op, &ol);
    ByteString expected =
        (rc == static_cast<std::size_t>(-1) || ol != sizeof out - 1) ? "?" : ByteString(out, 1);
    if (Cp866Bytes(std::u16string_view(&unit, 1)) != expected && ++mismatches < 10) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<unsigned>(c);
    }
  }
  iconv_close(cd);
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace velquora::protocol
