#include "driver/host_xml.h"

#include <sstream>

#include "common/error.h"
#include "common/text.h"
#include "driver/utilities.h"

namespace velquora::driver {
namespace {

void Load(std::string_view utf8, pugi::xml_document& doc) {
  pugi::xml_parse_result result = doc.load_buffer(
      utf8.data(), utf8.size(), pugi::parse_default | pugi::parse_declaration, pugi::encoding_utf8);
  if (!result) {
    throw Error(std::string("Ошибка разбора XML: ") + result.description() + " (смещение " +
                std::to_string(result.offset) + ")");
  }
}

}  // namespace

void ParseHostDocument(std::u16string_view text, pugi::xml_document& doc) {
  Load(ToUtf8(CleanXmlText(text)), doc);
}

void ParseResourceDocument(std::string_view utf8, pugi::xml_document& doc) {
  Load(utf8, doc);
}

void StartDocument(pugi::xml_document& doc) {
  doc.reset();
  doc.append_child(pugi::node_declaration).append_attribute("version") = "1.0";
}

std::u16string DocumentText(const pugi::xml_document& doc) {
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  return ToUtf16(out.str());
}

addin::Variant AttributeValue(const pugi::xml_node& node, const char* name) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) return addin::Variant::Null();
  return addin::Variant::String(ToUtf16(a.value()));
}

std::u16string AttributeText(const pugi::xml_node& node, const char* name) {
  return ToUtf16(node.attribute(name).value());
}

bool IsRecordElement(const pugi::xml_node& node) {
  return node.type() == pugi::node_element && EqualsNoCase(ToUtf16(node.name()), u"Record");
}

}  // namespace velquora::driver
