#include "driver/resource_document.h"

#include "common/text.h"
#include "driver/expat_parser.h"
#include "driver/xml_writer.h"

namespace velquora::driver {

namespace {

struct Copier {
  XmlWriter writer;
  std::string text;  // character data since the last tag

  void FlushText() {
    if (text.find_first_not_of(" \t\r\n") != std::string::npos) writer.Text(text);
    text.clear();
  }
  static void OnStart(void* data, const char* name, const char** atts) {
    auto* c = static_cast<Copier*>(data);
    c->FlushText();
    c->writer.Open(name);
    for (; atts[0]; atts += 2) c->writer.Attribute(atts[0], atts[1]);
  }
  static void OnEnd(void* data, const char*) {
    auto* c = static_cast<Copier*>(data);
    c->FlushText();
    c->writer.Close();
  }
  static void OnText(void* data, const char* s, int length) {
    static_cast<Copier*>(data)->text.append(s, static_cast<std::size_t>(length));
  }
};

}  // namespace

std::u16string ResourceDocumentText(std::string_view utf8) {
  ExpatParser parser = NewUtf8Parser();
  Copier copier;
  XML_SetUserData(parser.get(), &copier);
  XML_SetElementHandler(parser.get(), &Copier::OnStart, &Copier::OnEnd);
  XML_SetCharacterDataHandler(parser.get(), &Copier::OnText);
  if (XML_Parse(parser.get(), utf8.data(), static_cast<int>(utf8.size()), 1) != XML_STATUS_OK)
    ThrowParseError(parser.get());
  return ToUtf16(copier.writer.Finish());
}

}  // namespace velquora::driver
