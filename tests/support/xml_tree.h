#pragma once
// A small element tree for tests that look into the XML the driver writes.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velquora::test {

struct XmlNode {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<XmlNode> children;  // elements only
  std::string text;               // the character data directly inside, joined

  // The attribute's value; empty when absent.
  std::string Attr(std::string_view attr) const;
  bool HasAttr(std::string_view attr) const;
  // The first child element of that name; an empty node when there is none.
  const XmlNode& Child(std::string_view child) const;
  std::vector<const XmlNode*> Children(std::string_view child) const;
};

struct XmlDoc {
  std::string version;  // of the declaration; empty without one
  XmlNode root;
};

// Throws std::runtime_error with the parser's message when `utf8` is not well-formed.
XmlDoc ParseXml(std::string_view utf8);

}  // namespace velquora::test
