#include "driver/host_xml.h"

#include <new>
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
  // One UTF-8 copy of the host's text, handed to the parser to parse where it lies.
  std::size_t size = CleanXmlTextUtf8Size(text);
  void* buffer = pugi::get_memory_allocation_function()(size ? size : 1);
  if (!buffer) throw std::bad_alloc();
  CleanXmlTextUtf8Write(text, static_cast<char*>(buffer));
  pugi::xml_parse_result result = doc.load_buffer_inplace_own(
      buffer, size, pugi::parse_default | pugi::parse_declaration, pugi::encoding_utf8);
  if (!result) {
    throw Error(std::string("Ошибка разбора XML: ") + result.description() + " (смещение " +
                std::to_string(result.offset) + ")");
  }
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
  // No letter outside ASCII folds to one of "record", so comparing the UTF-8 bytes with ASCII
  // case folding is the same test as a full case-insensitive comparison, without a conversion.
  if (node.type() != pugi::node_element) return false;
  std::string_view name = node.name();
  constexpr std::string_view kRecord = "record";
  if (name.size() != kRecord.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kRecord[i]) return false;
  }
  return true;
}

}  // namespace velquora::driver
