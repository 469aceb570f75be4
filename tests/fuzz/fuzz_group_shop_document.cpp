// Fuzz target: a host group or shop document (first byte: which) through UploadGroups or
// UploadShops: parsing, reading each record, encoding it and sending it to a scale that answers
// from a script (the bytes after the document's terminating 0x00).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/driver_host.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velquora;
  fuzz::FuzzInput in(data, size);
  const char16_t* method = in.Byte() & 1 ? u"UploadShops" : u"UploadGroups";
  std::u16string document = in.Text();
  fuzz::DriverHost host(in.Rest());
  if (!host.Open()) std::abort();
  bool ok = host.Call(method, {document});
  // Success is only ever reported on answers that were read and in step with the frames.
  if (ok && (host.scale().surplus_answers() != 0 || host.scale().unread_answer_bytes() != 0))
    std::abort();
  return 0;
}
