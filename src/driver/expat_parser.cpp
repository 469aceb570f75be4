#include "driver/expat_parser.h"

#include "common/error.h"

namespace velquora::driver {

ExpatParser NewUtf8Parser() {
  ExpatParser parser(XML_ParserCreate("UTF-8"));
  if (!parser) throw Error(ErrorKind::kInternal, "Ошибка разбора XML: недостаточно памяти");
  return parser;
}

void ThrowParseError(XML_Parser parser, const std::string& what) {
  std::string text = what.empty() ? XML_ErrorString(XML_GetErrorCode(parser)) : what;
  throw Error(ErrorKind::kInvalid,
              "Ошибка разбора XML: " + text + " (строка " +
                  std::to_string(XML_GetCurrentLineNumber(parser)) + ", столбец " +
                  std::to_string(XML_GetCurrentColumnNumber(parser) + 1) + ")");
}

}  // namespace velquora::driver
