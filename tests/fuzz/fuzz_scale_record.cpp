// Fuzz target: the emulator's record decoders on arbitrary bytes (first byte: the table).
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "scale_emulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  try {
    (void)velquora::emulator::DecodeRecord(
        data[0], std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  } catch (const std::exception&) {
  }
  return 0;
}
