// The writer of the documents the driver hands the host: its layout, and escaping that keeps any
// value intact through a conforming parser.
#include <gtest/gtest.h>

#include "driver/xml_writer.h"
#include "support/xml_tree.h"

namespace velquora::driver {
namespace {

TEST(XmlWriter, LayoutOfTheDocumentsTheHostGets) {
  XmlWriter w;
  w.Open("Settings");
  w.Attribute("Caption", "Параметры");
  w.Open("Empty");
  w.Close();
  w.Open("Item");
  w.Attribute("Value", "");
  w.Text("S1");
  w.Close();
  w.Open("Group");
  w.Open("Parameter");
  w.Attribute("Name", "IPPort");
  w.Attribute("DefaultValue", "0");
  w.Close();
  EXPECT_EQ(w.Finish(),
            "<?xml version=\"1.0\"?>\n"
            "<Settings Caption=\"Параметры\">\n"
            "  <Empty />\n"
            "  <Item Value=\"\">S1</Item>\n"
            "  <Group>\n"
            "    <Parameter Name=\"IPPort\" DefaultValue=\"0\" />\n"
            "  </Group>\n"
            "</Settings>\n");
}

TEST(XmlWriter, EveryValueIsEscaped) {
  const std::string value = "a&b<c>d\"e'f\tg\nh\ri\x01j\x1Fk\x7F";
  XmlWriter w;
  w.Open("R");
  w.Attribute("v", value);
  w.Text(value);
  std::string doc = w.Finish();
  EXPECT_EQ(
      doc,
      "<?xml version=\"1.0\"?>\n<R v=\"a&amp;b&lt;c&gt;d&quot;e'f&#9;g&#10;h&#13;i\xEF\xBF\xBDj"
      "\xEF\xBF\xBDk\x7F\">a&amp;b&lt;c&gt;d\"e'f\tg\nh&#13;i\xEF\xBF\xBDj\xEF\xBF\xBDk\x7F</R>\n");
  // What XML can carry comes back unchanged; the rest as U+FFFD.
  test::XmlDoc parsed = test::ParseXml(doc);
  const std::string expected = "a&b<c>d\"e'f\tg\nh\ri\xEF\xBF\xBDj\xEF\xBF\xBDk\x7F";
  EXPECT_EQ(parsed.root.Attr("v"), expected);
  EXPECT_EQ(parsed.root.text, expected);
}

TEST(XmlWriter, InvalidUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},    // a surrogate half
      {"\xEF\xBF\xBE", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},    // U+FFFE
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                    // overlong
      {"\xD0", "\xEF\xBF\xBD"},                                    // cut short
      {"\xF0\x9F\x98\x80 \xD1\x8F", "\xF0\x9F\x98\x80 \xD1\x8F"},  // valid: kept
  };
  for (const Case& c : cases) {
    std::string out;
    AppendEscaped(out, c.in, true);
    EXPECT_EQ(out, c.out);
    EXPECT_NO_THROW(test::ParseXml("<R v=\"" + out + "\"/>"));
  }
}

}  // namespace
}  // namespace velquora::driver
