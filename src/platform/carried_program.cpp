#include "platform/carried_program.h"

#include <cstdint>

namespace velquora::platform {

std::string CarriedProgramFileName(std::string_view base_name, std::string_view image) {
  std::uint64_t hash = 1469598103934665603ull;  // FNV-1a: a name per version, not a check
  for (unsigned char c : image) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string name(base_name);
  name += '-';
  for (int shift = 60; shift >= 0; shift -= 4) name += kHex[(hash >> shift) & 15];
  return name;
}

}  // namespace velquora::platform
