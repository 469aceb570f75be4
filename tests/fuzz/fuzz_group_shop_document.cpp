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
  host.Call(method, {document});
  return 0;
}
