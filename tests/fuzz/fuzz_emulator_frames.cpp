// Fuzz target: the scale emulator on an arbitrary byte stream, framed as its connection loop
// frames it (FrameLength), each frame handled (decoded, stored, answered), then the stored
// tables dumped and printed. Only complete frames are handled; the stream stops at an unknown
// command as the connection does. Whatever the emulator stored, it must be able to dump.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>

#include "scale_emulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velquora::emulator;
  std::string stream(reinterpret_cast<const char*>(data), size);
  ScaleEmulator scale;
  std::size_t at = 0;
  while (at < stream.size()) {
    std::string frame;
    std::size_t length;
    while ((length = FrameLength(frame)) > frame.size() && at < stream.size()) {
      std::size_t take = std::min(length - frame.size(), stream.size() - at);
      frame += stream.substr(at, take);
      at += take;
    }
    if (length == 0 || length > frame.size()) break;  // unknown command, or the stream ended
    scale.Handle(frame);
  }
  try {
    (void)FormatDump(scale.Dump());
  } catch (const std::exception&) {
    std::abort();  // a record the emulator accepted and stored must decode again
  }
  return 0;
}
