#include "addin/value_conversion.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "addin/host_strings.h"
#include "common/error.h"

namespace velquora::addin {
namespace {

Variant DateFromTm(const std::tm& t) {
  // Each field is a 16-bit number. Computed in 64 bits so that nothing overflows; a value that
  // no 16-bit number holds becomes 65535, which no field accepts, instead of wrapping into a
  // date the host never meant.
  auto part = [](std::int64_t v) {
    return v >= -32768 && v <= 65535 ? static_cast<unsigned>(static_cast<std::uint16_t>(v))
                                     : 65535u;
  };
  unsigned y = part(std::int64_t{t.tm_year} + 1900), m = part(std::int64_t{t.tm_mon} + 1),
           d = part(t.tm_mday);
  unsigned hh = part(t.tm_hour), nn = part(t.tm_min), ss = part(t.tm_sec);
  double days = 0;
  if (!DaysFromDateTime(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d),
                        static_cast<int>(hh), static_cast<int>(nn), static_cast<int>(ss), days)) {
    auto num = [](unsigned v) { return v == 65535 ? std::string("?") : std::to_string(v); };
    std::string shown =
        num(y) + "-" + num(m) + "-" + num(d) + " " + num(hh) + ":" + num(nn) + ":" + num(ss) + ".0";
    throw Error(ErrorKind::kInvalid, "'" + shown + "' is not a valid date and time");
  }
  return Variant::Date(days);
}

}  // namespace

Variant FromHostValue(const TVariant& r) {
  switch (r.vt) {
    case VTYPE_EMPTY:
      return {};
    case VTYPE_I4:
      return Variant::Int(r.lVal, VariantKind::kInt32);
    case VTYPE_R8:
      return Variant::Double(r.dblVal);
    case VTYPE_TM:
      return DateFromTm(r.tmVal);
    case VTYPE_BOOL: {
      std::uint8_t raw;
      std::memcpy(&raw, &r, 1);  // any non-zero byte is true, not only 1
      return Variant::Bool(raw != 0);
    }
    case VTYPE_INTERFACE: {
      std::int32_t bits;
      std::memcpy(&bits, &r, 4);
      return Variant::Date(bits);
    }
    case VTYPE_PWSTR:
      return Variant::String(FromHostString(r.wstr.pwstrVal));
    case VTYPE_BLOB: {
      // The length is signed at the interface: a negative one describes no block at all (read
      // as unsigned, it would be a copy of 4 GB from a block of a few bytes).
      if (static_cast<std::int32_t>(r.str.strLen) < 0) {
        throw Error(ErrorKind::kUnsupported, "Неподдерживаемый тип данных");
      }
      // N bytes become N + 1 elements, the last one 0; the way back drops it again.
      std::vector<std::uint8_t> bytes(std::size_t{r.str.strLen} + 1, 0);
      if (r.str.strLen && r.str.pstrVal) std::memcpy(bytes.data(), r.str.pstrVal, r.str.strLen);
      return Variant::Bytes(std::move(bytes));
    }
    default:
      throw Error(ErrorKind::kUnsupported, "Неподдерживаемый тип данных");
  }
}

void ToHostValue(const HostMemory& memory, const Variant& value, TVariant& r) {
  if (r.vt == VTYPE_PWSTR && r.wstr.pwstrVal) FreeHostString(memory, r.wstr.pwstrVal);
  if (r.vt == VTYPE_BLOB && r.str.pstrVal) {
    memory.Free(r.str.pstrVal);
    r.str.pstrVal = nullptr;
  }
  std::memset(static_cast<void*>(&r), 0, sizeof r);

  if (value.IsInteger()) {
    double magnitude = value.IsSigned() ? std::fabs(static_cast<double>(value.int_value()))
                                        : static_cast<double>(value.uint_value());
    std::int64_t v =
        value.IsSigned() ? value.int_value() : static_cast<std::int64_t>(value.uint_value());
    if (magnitude < 2147483647.0) {
      r.vt = VTYPE_I4;
      r.lVal = static_cast<std::int32_t>(v);
    } else {
      r.vt = VTYPE_I8;
      r.llVal = v;
    }
    return;
  }
  switch (value.kind()) {
    case VariantKind::kSingle:
    case VariantKind::kDouble:
    case VariantKind::kCurrency:
      r.vt = VTYPE_R8;
      r.dblVal = value.double_value();
      return;
    case VariantKind::kDate:
      r.vt = VTYPE_DATE;
      r.date = value.double_value();
      return;
    case VariantKind::kString: {
      WCHAR_T* text = nullptr;
      CopyHostString(memory, value.string_value(), text);
      r.vt = VTYPE_PWSTR;
      r.wstr.pwstrVal = text;
      r.wstr.wstrLen = static_cast<std::uint32_t>(value.string_value().size());
      return;
    }
    case VariantKind::kBool:
      r.vt = VTYPE_BOOL;
      r.bVal = value.bool_value();
      return;
    case VariantKind::kArray:
      throw Error(ErrorKind::kUnsupported, "Неподдерживаемый тип массива.");
    case VariantKind::kByteArray: {
      const auto& bytes = value.bytes();
      std::size_t n = bytes.empty() ? 0 : bytes.size() - 1;  // the upper index bound
      void* block = memory.Alloc(n);
      if (!block && n) throw std::bad_alloc();
      if (n) std::memcpy(block, bytes.data(), n);
      r.vt = VTYPE_BLOB;
      r.str.pstrVal = static_cast<char*>(block);
      r.str.strLen = static_cast<std::uint32_t>(n);
      return;
    }
    default:
      return;  // empty, null: the record stays cleared
  }
}

}  // namespace velquora::addin
