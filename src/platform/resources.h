#pragma once
// The data items the library carries inside itself. On POSIX they are compiled in
// from resources/; a Windows build would read real resources behind the same functions.
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velquora::platform {

struct EmbeddedItem {
  const char* name;
  const unsigned char* data;
  std::size_t size;
};

// Provided by each shared library (generated at build time).
std::span<const EmbeddedItem> EmbeddedItems();

// The bytes of the data item `name` (exact name), or nothing.
std::optional<std::string_view> FindDataItem(std::string_view name);

}  // namespace velquora::platform
