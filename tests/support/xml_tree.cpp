#include "support/xml_tree.h"

#include <expat.h>

#include <memory>
#include <stdexcept>

namespace velquora::test {

std::string XmlNode::Attr(std::string_view attr) const {
  for (const auto& [n, v] : attributes)
    if (n == attr) return v;
  return {};
}

bool XmlNode::HasAttr(std::string_view attr) const {
  for (const auto& a : attributes)
    if (a.first == attr) return true;
  return false;
}

const XmlNode& XmlNode::Child(std::string_view child) const {
  static const XmlNode kNone;
  for (const auto& c : children)
    if (c.name == child) return c;
  return kNone;
}

std::vector<const XmlNode*> XmlNode::Children(std::string_view child) const {
  std::vector<const XmlNode*> out;
  for (const auto& c : children)
    if (c.name == child) out.push_back(&c);
  return out;
}

namespace {

struct Builder {
  XmlDoc doc;
  std::vector<XmlNode*> open;

  static void OnDecl(void* data, const char* version, const char*, int) {
    if (version) static_cast<Builder*>(data)->doc.version = version;
  }
  static void OnStart(void* data, const char* name, const char** atts) {
    auto* b = static_cast<Builder*>(data);
    XmlNode* node = b->open.empty() ? &b->doc.root : &b->open.back()->children.emplace_back();
    node->name = name;
    for (; atts[0]; atts += 2) node->attributes.emplace_back(atts[0], atts[1]);
    b->open.push_back(node);
  }
  static void OnEnd(void* data, const char*) { static_cast<Builder*>(data)->open.pop_back(); }
  static void OnText(void* data, const char* s, int n) {
    auto* b = static_cast<Builder*>(data);
    if (!b->open.empty()) b->open.back()->text.append(s, static_cast<std::size_t>(n));
  }
};

}  // namespace

XmlDoc ParseXml(std::string_view utf8) {
  std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate("UTF-8"),
                                                                 XML_ParserFree);
  Builder b;
  XML_SetUserData(parser.get(), &b);
  XML_SetXmlDeclHandler(parser.get(), &Builder::OnDecl);
  XML_SetElementHandler(parser.get(), &Builder::OnStart, &Builder::OnEnd);
  XML_SetCharacterDataHandler(parser.get(), &Builder::OnText);
  if (XML_Parse(parser.get(), utf8.data(), static_cast<int>(utf8.size()), 1) != XML_STATUS_OK) {
    throw std::runtime_error(XML_ErrorString(XML_GetErrorCode(parser.get())));
  }
  return std::move(b.doc);
}

}  // namespace velquora::test
