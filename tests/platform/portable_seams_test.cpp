// Seams that must answer the same on every system: the same tables run in the Linux and the
// Windows builds.
#include <gtest/gtest.h>

#include "common/text.h"
#include "platform/case_mapping.h"
#include "platform/sockets.h"

namespace velquora {
namespace {

using platform::EqualsNoCase;

TEST(NameLookups, LatinAndCyrillicNamesMatchWhateverTheirCase) {
  const std::vector<std::pair<std::u16string, std::u16string>> same = {
      {u"UploadGoods", u"uploadgoods"},
      {u"UPLOADGOODS", u"UploadGoods"},
      {u"ВыгрузитьТовары", u"выгрузитьтовары"},
      {u"ВЫГРУЗИТЬТОВАРЫ", u"выгрузитьТовары"},
      {u"ЁлкаЪЫЬЭЮЯ", u"ёлкаъыьэюя"},
      {u"ЄЇІЎЂЉЊЋЏ", u"єїіўђљњћџ"},
      {u"ÀÉÎÕÜÇÑ", u"àéîõüçñ"},
      {u"ΑΒΓΔ", u"αβγδ"},
      {u"IPАдрес", u"ipадрес"},
      {u"", u""},
  };
  for (const auto& [a, b] : same)
    EXPECT_TRUE(EqualsNoCase(a, b)) << ToUtf8(a) << " / " << ToUtf8(b);

  const std::vector<std::pair<std::u16string, std::u16string>> different = {
      {u"ВыгрузитьТовары", u"ВыгрузитьТовар"},
      {u"Е", u"Ё"},  // distinct letters, not case forms
      {u"И", u"Й"},
      {u"I", u"ı"},   // dotless i is not the lower case of I in a locale-free mapping
      {u"ß", u"ss"},  // simple mapping only: no expansion
      {u"Ok", u"0k"},
  };
  for (const auto& [a, b] : different)
    EXPECT_FALSE(EqualsNoCase(a, b)) << ToUtf8(a) << " / " << ToUtf8(b);

  // Code points past the basic plane and lone surrogates come through unchanged.
  EXPECT_TRUE(EqualsNoCase(u"\U0001F600x", u"\U0001F600X"));
  EXPECT_FALSE(EqualsNoCase(u"\xD800", u"\xDC00"));
}

TEST(Addresses, OnlyFourDecimalPartsAreAnAddress) {
  const std::vector<std::pair<const char*, std::uint32_t>> good = {{"127.0.0.1", 0x7F000001},
                                                                   {"0.0.0.0", 0},
                                                                   {"255.255.255.255", 0xFFFFFFFF},
                                                                   {"192.168.10.200", 0xC0A80AC8}};
  for (const auto& [text, value] : good) {
    std::uint32_t address = 0;
    EXPECT_TRUE(platform::ParseIPv4(text, address)) << text;
    EXPECT_EQ(address, value) << text;
  }
  for (const char* text :
       {"", "1", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.-4", " 1.2.3.4", "1.2.3.4 ",
        "0x7f.0.0.1", "1..2.3", "a.b.c.d", "1.2.3.4/8", "01.2.3.4", "1.2.3.0004"}) {
    std::uint32_t address = 12345;
    EXPECT_FALSE(platform::ParseIPv4(text, address)) << text;
  }
}

}  // namespace
}  // namespace velquora
