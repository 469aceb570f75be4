#include "platform/resources.h"

namespace velquora::platform {

std::optional<std::string_view> FindDataItem(std::string_view name) {
  for (const auto& item : EmbeddedItems()) {
    if (name == item.name)
      return std::string_view(reinterpret_cast<const char*>(item.data), item.size);
  }
  return std::nullopt;
}

}  // namespace velquora::platform
