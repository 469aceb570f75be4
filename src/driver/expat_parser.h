#pragma once
// What the driver's two readers of XML share: a parser that takes its input as UTF-8 whatever
// the text declares, and the one wording of a parse failure.
#include <expat.h>

#include <memory>
#include <string>

namespace velquora::driver {

struct ExpatParserDeleter {
  void operator()(XML_Parser p) const { XML_ParserFree(p); }
};
using ExpatParser = std::unique_ptr<XML_ParserStruct, ExpatParserDeleter>;

// Never null: fails with the parse-failure message when no parser can be made.
ExpatParser NewUtf8Parser();

// "Ошибка разбора XML: " + `what` (the parser's own text by default) + the line and column
// (from 1) where the parser stopped.
[[noreturn]] void ThrowParseError(XML_Parser parser, const std::string& what = {});

}  // namespace velquora::driver
