#pragma once
// XML documents to and from the host: cleaned and parsed with pugixml, written with version "1.0".
#include <pugixml.hpp>

#include <string>

#include "addin/variant.h"

namespace velquora::driver {

// Cleans the host's text of characters XML does not allow, then parses it; a document that
// is not well-formed fails with the parser's description and offset.
void ParseHostDocument(std::u16string_view text, pugi::xml_document& doc);

// Parses a document the library carries (UTF-8).
void ParseResourceDocument(std::string_view utf8, pugi::xml_document& doc);

// A new document holding the declaration <?xml version="1.0"?>.
void StartDocument(pugi::xml_document& doc);

std::u16string DocumentText(const pugi::xml_document& doc);

// An attribute as the driver reads it: its text, or null when absent.
addin::Variant AttributeValue(const pugi::xml_node& node, const char* name);
std::u16string AttributeText(const pugi::xml_node& node, const char* name);

// Children of `table` whose name is "Record" in any letter case, in document order.
bool IsRecordElement(const pugi::xml_node& node);

}  // namespace velquora::driver
