#pragma once
// The XML documents the library carries (settings page, actions), handed to the host in the
// writer's layout under the declaration <?xml version="1.0"?>.
#include <string>
#include <string_view>

namespace velquora::driver {

// Elements, attributes and text of `utf8` (comments, processing instructions, the document
// type and text of blanks only are left out); fails with "Ошибка разбора XML: ..." when the
// item is not well-formed.
std::u16string ResourceDocumentText(std::string_view utf8);

}  // namespace velquora::driver
