// Reading the host's upload documents: a conforming parser, whole documents, the attributes the
// driver uses.
#include <expat.h>
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.h"
#include "driver/host_document.h"
#include "support/test_helpers.h"

namespace velquora::driver {
namespace {

std::string ParseError(XML_Error code, int line, int column) {
  return std::string("Ошибка разбора XML: ") + XML_ErrorString(code) + " (строка " +
         std::to_string(line) + ", столбец " + std::to_string(column) + ")";
}

TEST(HostDocument, TextThatIsNotWellFormedFailsWithTheParsersMessageAndPlace) {
  struct Case {
    const char16_t* text;
    XML_Error code;
    int line, column;
  } cases[] = {
      {u"<Table/><Table/>", XML_ERROR_JUNK_AFTER_DOC_ELEMENT, 1, 9},
      {u"<Table/>\nсыр", XML_ERROR_JUNK_AFTER_DOC_ELEMENT, 2, 1},
      {u"<Table><Record PLU=\"1\" PLU=\"2\"/></Table>", XML_ERROR_DUPLICATE_ATTRIBUTE, 1, 24},
      {u"<Table><Record Name=\"&foo;\"/></Table>", XML_ERROR_UNDEFINED_ENTITY, 1, 8},
      {u"<Table><Record Name=\"A & B\"/></Table>", XML_ERROR_INVALID_TOKEN, 1, 25},
      {u"<Table><Record Name=\"a<b\"/></Table>", XML_ERROR_INVALID_TOKEN, 1, 23},
      {u"<Table><Record Name=\"&#1;\"/></Table>", XML_ERROR_BAD_CHAR_REF, 1, 22},
      {u"<Table><!-- a -- b --><Record/></Table>", XML_ERROR_INVALID_TOKEN, 1, 17},
      {u"<Table><Record", XML_ERROR_UNCLOSED_TOKEN, 1, 8},
      {u"", XML_ERROR_NO_ELEMENTS, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(test::ErrorOf([&] { HostDocument::Parse(c.text); }),
              ParseError(c.code, c.line, c.column))
        << ToUtf8(c.text);
  }
}

TEST(HostDocument, InternalEntitiesAreExpandedExternalOnesRefused) {
  HostDocument doc = HostDocument::Parse(
      u"<?xml version=\"1.0\" encoding=\"windows-1251\"?>"
      u"<!DOCTYPE Table [<!ENTITY x \"Сыр\">]><Table><Record Name=\"&x; &amp; &#x41;\"/></Table>");
  ASSERT_EQ(doc.RecordCount(), 1u);
  EXPECT_EQ(doc.Record(0).Text(HostAttr::kName), u"Сыр & A");

  const char16_t* external[] = {
      u"<!DOCTYPE Table [<!ENTITY x SYSTEM \"/etc/passwd\">]><Table>&x;</Table>",
      u"<!DOCTYPE Table SYSTEM \"http://127.0.0.1:9/table.dtd\"><Table/>",
      u"<!DOCTYPE Table [<!ENTITY % p SYSTEM \"/etc/passwd\"> %p;]><Table/>",
  };
  for (const char16_t* text : external) {
    std::string error = test::ErrorOf([&] { HostDocument::Parse(text); });
    EXPECT_EQ(error.rfind("Ошибка разбора XML: внешние сущности не загружаются (", 0), 0u) << error;
  }
  // An external entity in an attribute value is not well-formed to begin with.
  EXPECT_EQ(test::ErrorOf([] {
              HostDocument::Parse(
                  u"<!DOCTYPE Table [<!ENTITY x SYSTEM \"/etc/passwd\">]><Table a=\"&x;\"/>");
            }),
            ParseError(XML_ERROR_ATTRIBUTE_EXTERNAL_ENTITY_REF, 1, 62));
}

TEST(HostDocument, ExpansionAttacksFailWithTheParsersOwnError) {
  std::u16string text = u"<!DOCTYPE Table [<!ENTITY a0 \"0123456789ABCDEF\">";
  for (int i = 1; i < 16; ++i) {
    std::u16string e = u"&a" + ToUtf16(std::to_string(i - 1)) + u";";
    text += u"<!ENTITY a" + ToUtf16(std::to_string(i)) + u" \"" + e + e + e + e + e + e + e + e +
            e + e + u"\">";
  }
  text += u"]><Table><Record Name=\"&a15;\"/></Table>";
  std::string error = test::ErrorOf([&] { HostDocument::Parse(text); });
  EXPECT_EQ(error.rfind(std::string("Ошибка разбора XML: ") +
                            XML_ErrorString(XML_ERROR_AMPLIFICATION_LIMIT_BREACH),
                        0),
            0u)
      << error;
}

TEST(HostDocument, RecordsAndTheAttributesTheDriverReads) {
  HostDocument doc = HostDocument::Parse(
      u"<Table Kind=\"x\"><record PLU=\" 7 \" Other=\"1\"/>text<Other PLU=\"8\"/>"
      u"<RECORD Name=\"соль\u0001 😀\" EANData=\"\"><Record PLU=\"9\"/></RECORD><!-- c --></Table>");
  EXPECT_EQ(doc.RootName(), "Table");
  ASSERT_EQ(doc.RecordCount(), 2u) << "records of records are not records";
  EXPECT_EQ(doc.Record(0).Get(HostAttr::kPlu), " 7 ");
  EXPECT_EQ(doc.Record(0).Get(HostAttr::kName), std::nullopt);
  EXPECT_EQ(doc.Record(1).Get(HostAttr::kPlu), std::nullopt);
  EXPECT_EQ(doc.Record(1).Get(HostAttr::kEanData), "");
  // Characters XML does not allow are removed before parsing, surrogate pairs too.
  EXPECT_EQ(doc.Record(1).Text(HostAttr::kName), u"соль ");

  HostDocument settings =
      HostDocument::Parse(u"<SystemSettings DateTime=\"01.02.2024 10:20:30\"/>");
  EXPECT_EQ(settings.RootName(), "SystemSettings");
  EXPECT_EQ(settings.Root().Text(HostAttr::kDateTime), u"01.02.2024 10:20:30");
  EXPECT_EQ(settings.RecordCount(), 0u);
}

}  // namespace
}  // namespace velquora::driver

namespace velquora::driver {
namespace {

// The host's text reaches the parser in pieces: a document many pieces long reads the same, with
// characters of two and three UTF-8 bytes and removed characters at every piece boundary, and a
// fault far into it is reported at its own line and column.
TEST(HostDocument, LongDocumentsReadAcrossThePiecesTheParserIsGiven) {
  const std::u16string name = u"Сыр€\u0001x";  // 2- and 3-byte characters, one removed
  std::u16string text = u"<Table>";
  constexpr int kRecords = 60000;  // about 2.4 million units: several pieces
  for (int i = 0; i < kRecords; ++i) {
    text += u"<Record PLU=\"" + IntToText16(i) + u"\" Name=\"" + name + u"\"/>\n";
  }
  HostDocument doc = HostDocument::Parse(text + u"</Table>");
  ASSERT_EQ(doc.RecordCount(), static_cast<std::size_t>(kRecords));
  for (std::size_t i = 0; i < doc.RecordCount(); ++i) {
    HostRecord r = doc.Record(i);
    ASSERT_EQ(r.Get(HostAttr::kPlu), std::to_string(i));
    ASSERT_EQ(r.Text(HostAttr::kName), u"Сыр€x") << "record " << i;
  }
  EXPECT_EQ(test::ErrorOf([&] { HostDocument::Parse(text + u"</Table><Table/>"); }),
            ParseError(XML_ERROR_JUNK_AFTER_DOC_ELEMENT, kRecords + 1, 9));
}

}  // namespace
}  // namespace velquora::driver

namespace velquora::driver {
namespace {

// Record by record: each is handed over with its number and line as soon as it is read, and
// nothing of it stays; a handler that has had enough gets no more, yet the text is read to its
// end, so a fault after the last record it took still fails the document as not well-formed.
TEST(HostDocument, RecordsHandedOverOneByOne) {
  const std::u16string text =
      u"<Table Kind=\"x\">\n<Record PLU=\"1\" Name=\"Сыр\"/>\n<Other PLU=\"9\"/>"
      u"<record PLU=\"2\"/>\n\n<RECORD Name=\"соль\"><Record PLU=\"8\"/></RECORD></Table>";
  struct Seen {
    std::size_t index;
    std::uint32_t line;
    std::optional<std::string> plu, name;
  };
  std::vector<Seen> seen;
  auto keep = [&](const HostRecord& r, std::size_t index, std::uint32_t line) {
    auto text_of = [&](HostAttr a) {
      std::optional<std::string_view> v = r.Get(a);
      return v ? std::optional<std::string>(*v) : std::nullopt;
    };
    seen.push_back({index, line, text_of(HostAttr::kPlu), text_of(HostAttr::kName)});
    return true;
  };
  HostDocument doc = HostDocument::ParseRecords(text, keep);
  EXPECT_EQ(doc.RootName(), "Table");
  EXPECT_EQ(doc.RecordCount(), 0u);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].index, 0u);
  EXPECT_EQ(seen[0].line, 2u);
  EXPECT_EQ(seen[0].plu, "1");
  EXPECT_EQ(seen[0].name, "Сыр");
  EXPECT_EQ(seen[1].line, 3u);
  EXPECT_EQ(seen[1].plu, "2");
  EXPECT_EQ(seen[1].name, std::nullopt) << "nothing of the record before stays";
  EXPECT_EQ(seen[2].index, 2u);
  EXPECT_EQ(seen[2].line, 5u);
  EXPECT_EQ(seen[2].plu, std::nullopt);
  EXPECT_EQ(seen[2].name, "соль");

  seen.clear();
  int calls = 0;
  auto first_only = [&](const HostRecord&, std::size_t, std::uint32_t) {
    ++calls;
    return false;
  };
  HostDocument::ParseRecords(text, first_only);
  EXPECT_EQ(calls, 1);
  calls = 0;
  EXPECT_EQ(test::ErrorOf([&] { HostDocument::ParseRecords(text + u"\n<Table/>", first_only); }),
            ParseError(XML_ERROR_JUNK_AFTER_DOC_ELEMENT, 6, 1));
  EXPECT_EQ(calls, 1);

  // What the handler throws comes out as it is.
  auto fails = [](const HostRecord&, std::size_t, std::uint32_t) -> bool {
    throw std::runtime_error("handler");
  };
  EXPECT_EQ(test::ErrorOf([&] { HostDocument::ParseRecords(text, fails); }), "handler");
}

}  // namespace
}  // namespace velquora::driver
