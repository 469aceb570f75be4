#include "platform/carried_program.h"

#include <cstdint>

#include "common/hex.h"

namespace velquora::platform {

std::string CarriedProgramFileName(std::string_view base_name, std::string_view image) {
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a: a name per version, not a check
  for (unsigned char c : image) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  std::string bytes;
  for (int shift = 56; shift >= 0; shift -= 8) bytes += static_cast<char>((hash >> shift) & 0xFF);
  return std::string(base_name) + '-' + HexText(bytes, {}, HexDigits::kLower);
}

}  // namespace velquora::platform
