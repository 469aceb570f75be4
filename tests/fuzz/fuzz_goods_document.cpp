// Fuzz target: a host goods document through UploadGoods: cleaning, parsing, reading each
// record, checking and encoding it, and sending it to a scale that answers from a script (the
// bytes after the document's terminating 0x00). Any input may fail the call with an error;
// none may crash, leak a host block or leave a connection open.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/driver_host.h"
#include "support/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velquora;
  fuzz::FuzzInput in(data, size);
  std::u16string document = in.Text();
  fuzz::DriverHost host(in.Rest());
  if (!host.Open()) std::abort();
  bool ok = host.Call(u"UploadGoods", {std::u16string(), document, std::u16string()});
  // Success is only ever reported on answers that were read and in step with the frames.
  if (ok && (host.scale().surplus_answers() != 0 || host.scale().unread_answer_bytes() != 0))
    std::abort();
  return 0;
}
