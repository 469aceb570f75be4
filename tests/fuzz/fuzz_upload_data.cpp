// Fuzz target: UploadData(file name, hex text) through the host's call path. The text is split
// into records by the size field each one carries and checked before the first frame goes out.
// When the call reports success, the scale must have received exactly the given bytes (each
// frame the two-byte prefix the file name chose, then one record), and answered every frame
// with one byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "support/driver_host.h"
#include "support/fuzz_input.h"

namespace {

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// Hex text to bytes; false when it is not hex of whole bytes.
bool Decode(const std::u16string& hex, std::string& bytes) {
  if (hex.size() % 2) return false;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velquora;
  fuzz::FuzzInput in(data, size);
  std::string answers = in.Chunk();
  std::u16string file_name = in.Text();
  std::u16string hex = in.Text();

  fuzz::DriverHost host(answers);
  if (!host.Open()) std::abort();  // a scale that accepts every connection
  std::size_t frames_before = host.scale().frames().size();
  bool ok = host.Call(u"UploadData", {file_name, hex});
  if (!ok) return 0;
  // Success is only ever reported on answers that were read and in step with the frames.
  if (host.scale().surplus_answers() != 0 || host.scale().unread_answer_bytes() != 0) std::abort();

  // Success: every byte of the data arrived, in order, each frame behind the file's prefix.
  // The first letter of the file name chooses the command byte.
  std::string expected, table;
  if (!Decode(hex, expected) || file_name.size() < 3 || !Decode(file_name.substr(1, 2), table))
    std::abort();
  char16_t kind = file_name[0] >= u'a' && file_name[0] <= u'z' ? file_name[0] - 32 : file_name[0];
  char command = kind == u'D' ? '\xF2' : kind == u'F' ? '\xF1' : kind == u'T' ? '\xF7' : 0;
  if (!command) std::abort();
  const auto& frames = host.scale().frames();
  std::string received;
  for (std::size_t i = frames_before; i < frames.size(); ++i) {
    if (frames[i].size() < 2 || frames[i][0] != command || frames[i].substr(1, 1) != table)
      std::abort();
    received += frames[i].substr(2);
  }
  if (received != expected) std::abort();
  return 0;
}
