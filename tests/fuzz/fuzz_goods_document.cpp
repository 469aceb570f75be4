// Fuzz target: a host goods document through cleaning, parsing, reading, checking and encoding.
// Any input may fail with an error; none may crash or touch memory it does not own.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "common/text.h"
#include "device/records.h"
#include "driver/goods_reader.h"
#include "driver/host_document.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velquora;
  std::u16string text = ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  try {
    driver::HostDocument doc = driver::HostDocument::Parse(text);
    device::LabelSettings label{6, 0, 1, 4, 17};
    for (std::size_t i = 0; i < doc.RecordCount(); ++i) {
      try {
        (void)device::BuildPluRecord(driver::ReadGoodsRecord(doc.Record(i)), label).Bytes();
      } catch (const std::exception&) {
      }
    }
  } catch (const std::exception&) {
  }
  return 0;
}
