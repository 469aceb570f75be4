#pragma once
// The general error of the system: a message text (UTF-8 inside, Russian to the user).
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/text.h"

namespace velquora {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& utf8) : std::runtime_error(utf8) {}
  explicit Error(std::u16string_view text) : std::runtime_error(ToUtf8(text)) {}
  std::u16string Text() const { return ToUtf16(what()); }
};

// The message of whatever is in flight inside a catch block.
inline std::u16string CurrentErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return ToUtf16(e.what());
  } catch (...) {
    return u"Unknown error";
  }
}

}  // namespace velquora
