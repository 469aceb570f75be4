#include "fuzz_input.h"

#include "common/text.h"

namespace velquora::fuzz {

std::u16string FuzzInput::Text() {
  if (empty() || data_[at_] != 0xFF) return ToUtf16(Chunk());
  ++at_;
  std::u16string out;
  while (!empty()) {
    auto unit = Raw<std::uint16_t>();
    if (unit == 0) break;
    out += static_cast<char16_t>(unit);
  }
  return out;
}

}  // namespace velquora::fuzz
