#pragma once
// Writes the XML documents the driver hands the host, in the layout it has always had: the
// declaration <?xml version="1.0"?>, two blanks of indent per level, an element without
// children as <Name a="v" />, an element holding only text on one line. Every attribute value
// and text is escaped; characters XML cannot carry become U+FFFD, so the output is always
// well-formed UTF-8.
#include <string>
#include <string_view>
#include <vector>

namespace velquora::driver {

class XmlWriter {
 public:
  XmlWriter();
  // Starts a child of the innermost open element (or the top-level element).
  void Open(std::string_view name);
  // An attribute of the element just opened, before any of its children.
  void Attribute(std::string_view name, std::string_view utf8_value);
  void Text(std::string_view utf8);
  // Ends the innermost open element.
  void Close();
  // The document, with any elements still open closed.
  std::string Finish();

 private:
  enum class State { kTagOpen, kElements, kText };
  struct Element {
    std::string name;
    State state;
  };
  void Indent(std::size_t depth);

  std::string out_;
  std::vector<Element> open_;
};

// `utf8` with & < > " escaped as entities, tab, line feed and carriage return as character
// references when `attribute` (so they survive attribute-value normalisation), carriage return
// as a reference in text, and the characters XML 1.0 does not allow (and invalid UTF-8) as
// U+FFFD.
void AppendEscaped(std::string& out, std::string_view utf8, bool attribute);

}  // namespace velquora::driver
