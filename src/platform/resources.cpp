#include "platform/resources.h"

#include <charconv>

#include "common/text.h"

namespace velquora::platform {

std::optional<std::string_view> FindDataItem(std::string_view name) {
  for (const auto& item : EmbeddedItems()) {
    if (name == item.name)
      return std::string_view(reinterpret_cast<const char*>(item.data), item.size);
  }
  return std::nullopt;
}

// The "strings" item holds lines "number=text" in UTF-8.
std::u16string LoadResourceString(int id) {
  auto table = FindDataItem("strings");
  if (!table) return {};
  std::string_view rest = *table;
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    int number = 0;
    auto [p, ec] = std::from_chars(line.data(), line.data() + eq, number);
    if (ec == std::errc() && p == line.data() + eq && number == id)
      return ToUtf16(line.substr(eq + 1));
  }
  return {};
}

}  // namespace velquora::platform
