// Fuzz target: a setting's dynamic value (any kind, raw numbers, any text) through every
// conversion the settings getters and the host-attribute readers use, and the value's text form.
// Conversions may refuse with an error; they may not crash or overflow. A number's own text
// must convert back to the same number.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "addin/variant.h"
#include "common/text.h"
#include "driver/attribute_values.h"
#include "driver/setting_conversion.h"
#include "support/fuzz_input.h"

namespace {

using velquora::addin::Variant;
using velquora::addin::VariantKind;

Variant MakeValue(velquora::fuzz::FuzzInput& in, int depth = 0) {
  auto kind = static_cast<VariantKind>(in.Byte() % (static_cast<int>(VariantKind::kArray) + 1));
  switch (kind) {
    case VariantKind::kEmpty:
      return {};
    case VariantKind::kNull:
      return Variant::Null();
    case VariantKind::kBool:
      return Variant::Bool(in.Byte() & 1);
    case VariantKind::kInt8:
    case VariantKind::kInt16:
    case VariantKind::kInt32:
    case VariantKind::kInt64:
      return Variant::Int(in.Raw<std::int64_t>(), kind);
    case VariantKind::kUInt8:
    case VariantKind::kUInt16:
    case VariantKind::kUInt32:
    case VariantKind::kUInt64:
      return Variant::UInt(in.Raw<std::uint64_t>(), kind);
    case VariantKind::kSingle:
    case VariantKind::kDouble:
      return Variant::Double(in.Raw<double>(), kind);
    case VariantKind::kCurrency:
      return Variant::Currency(in.Raw<std::int64_t>());
    case VariantKind::kDate:
      return Variant::Date(in.Raw<double>());
    case VariantKind::kString:
      return Variant::String(in.Text());
    case VariantKind::kByteArray: {
      std::string bytes = in.Chunk();
      return Variant::Bytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    }
    case VariantKind::kArray: {
      std::vector<Variant> items;
      if (depth < 2)
        for (int n = in.Byte() % 4; n > 0; --n) items.push_back(MakeValue(in, depth + 1));
      return Variant::Array(std::move(items));
    }
  }
  return {};
}

template <typename F>
void Try(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velquora;
  using namespace velquora::driver;
  fuzz::FuzzInput in(data, size);
  while (!in.empty()) {
    Variant v = MakeValue(in);
    Try([&] { (void)v.ToText(); });
    Try([&] { (void)SettingToBool(v); });
    Try([&] { (void)SettingToInt(v); });
    Try([&] { (void)SettingToStr(v); });
    Try([&] { (void)ReadInteger(v, kNoNumber); });
    Try([&] { (void)ReadAmount(v, kNoNumber); });
    Try([&] { (void)ReadFlag(v, false); });

    // Round trips through the text forms the driver writes and reads.
    auto n = in.Raw<std::int32_t>();
    if (SettingToInt(Variant::String(IntToText16(n))) != n) std::abort();
    auto amount = in.Raw<std::int64_t>() % 100000000000000000;
    if (ParseAmount(ToUtf16(addin::FormatCurrency(amount))) != amount) std::abort();
  }
  return 0;
}
