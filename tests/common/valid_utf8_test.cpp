// Texts bound for files come out as valid UTF-8 whatever went in.
#include "common/valid_utf8.h"

#include <gtest/gtest.h>

namespace velquora {
namespace {

const std::string kFffd = "\xEF\xBF\xBD";

TEST(ValidUtf8, LoneSurrogatesBecomeOneReplacementEach) {
  const std::pair<std::u16string, std::string> cases[] = {
      {u"", ""},
      {u"Сыр 1 кг", "Сыр 1 кг"},
      {u"\u007F\u0080\u07FF\u0800 € \uFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80 € \xEF\xBF\xBF"},
      {u"😀", "\xF0\x9F\x98\x80"},
      {std::u16string(u"a") + char16_t(0xD800) + u"b", "a" + kFffd + "b"},
      {std::u16string(1, char16_t(0xDC00)), kFffd},
      {std::u16string(u"x") + char16_t(0xD83D), "x" + kFffd},
      {std::u16string{char16_t(0xD800), char16_t(0xD83D), char16_t(0xDE00)},
       kFffd + "\xF0\x9F\x98\x80"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ToValidUtf8(in), out);
}

TEST(ValidUtf8, IllFormedBytesAreReplacedByMaximalSubparts) {
  const std::pair<std::string, std::string> cases[] = {
      {"", ""},
      {"plain\r\n", "plain\r\n"},
      {"Сыр 😀", "Сыр 😀"},
      {"\xED\xA0\x80", kFffd + kFffd + kFffd},              // an encoded surrogate
      {"\xC0\xAF", kFffd + kFffd},                          // an overlong "/"
      {"\xE0\x80\xAF", kFffd + kFffd + kFffd},              // another overlong form
      {"\xF4\x90\x80\x80", kFffd + kFffd + kFffd + kFffd},  // beyond U+10FFFF
      {"a\xE2\x82", "a" + kFffd},                           // cut off at the end
      {"\xE2\x82"
       "A",
       kFffd + "A"},                // cut off by a new character
      {"\x80\xBF", kFffd + kFffd},  // stray continuation bytes
      {"\xFF\xFE", kFffd + kFffd},
      {"ok \xD0", "ok " + kFffd},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ValidUtf8(in), out) << in;
}

}  // namespace
}  // namespace velquora
