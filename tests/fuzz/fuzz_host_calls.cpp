// Fuzz target: the driver component driven through its entry tables as a hostile host would,
// with any value records (every tag, raw payloads, texts with lone surrogates, byte blocks,
// calendar times) into any method, property and parameter number. Covers the value conversion
// both ways, CallAsFunc/CallAsProc, the settings and their conversions at Open, and the
// handlers behind them. The device answers from a script; nothing reaches the network.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/driver_host.h"
#include "support/fuzz_input.h"

namespace velquora::fuzz {
namespace {

using addin::TVariant;

// Records the host built, with the blocks it owns itself (narrow texts are never freed by the
// component).
struct Records {
  std::vector<TVariant> items;
  std::vector<std::string> narrow;
};

// Any method or property number: mostly near the registered ones, sometimes any 32-bit value
// (negative, past the end, the extra-method range from 30000 up), or the number the component
// gives for a method name (0xEF, then the name), so seeds and dictionary words name methods.
long Number(FuzzInput& in, DriverHost& host) {
  std::uint8_t b = in.Byte();
  if (b == 0xEF) return host.object().FindMethod(in.Text().c_str());
  if (b < 0xF0) return b % 48;
  return static_cast<long>(in.Raw<std::int32_t>());
}

void FillRecord(FuzzInput& in, DriverHost& host, Records& records, TVariant& r) {
  std::memset(static_cast<void*>(&r), 0, sizeof r);
  std::uint8_t tag = in.Byte();
  r.vt = tag < 0xE0 ? tag % 26 : in.Raw<std::uint16_t>();
  switch (r.vt) {
    case addin::VTYPE_PWSTR: {
      std::u16string text = in.Text();
      void* block = nullptr;
      host.memory().AllocMemory(&block, static_cast<unsigned long>((text.size() + 1) * 2));
      std::memcpy(block, text.c_str(), (text.size() + 1) * 2);
      r.wstr.pwstrVal = static_cast<addin::WCHAR_T*>(block);
      r.wstr.wstrLen = static_cast<std::uint32_t>(text.size());
      break;
    }
    case addin::VTYPE_BLOB: {
      std::string bytes = in.Chunk();
      void* block = nullptr;
      host.memory().AllocMemory(&block, static_cast<unsigned long>(bytes.size()));
      if (!bytes.empty()) std::memcpy(block, bytes.data(), bytes.size());
      r.str.pstrVal = static_cast<char*>(block);
      r.str.strLen = static_cast<std::uint32_t>(bytes.size());
      break;
    }
    case addin::VTYPE_PSTR: {
      records.narrow.push_back(in.Chunk());
      r.str.pstrVal = records.narrow.back().data();
      r.str.strLen = static_cast<std::uint32_t>(records.narrow.back().size());
      break;
    }
    case addin::VTYPE_TM: {
      int* parts[] = {&r.tmVal.tm_sec,  &r.tmVal.tm_min,  &r.tmVal.tm_hour,
                      &r.tmVal.tm_mday, &r.tmVal.tm_mon,  &r.tmVal.tm_year,
                      &r.tmVal.tm_wday, &r.tmVal.tm_yday, &r.tmVal.tm_isdst};
      for (int* p : parts) *p = in.Raw<std::int32_t>();
      break;
    }
    case addin::VTYPE_VARIANT:
      break;  // a pointer to more records: left null
    default: {
      // Scalars: the first 16 bytes of the union, raw.
      auto* raw = reinterpret_cast<unsigned char*>(&r);
      for (int i = 0; i < 16; ++i) raw[i] = in.Byte();
      break;
    }
  }
  r.cbElements = in.Byte() == 0xFF ? in.Raw<std::uint32_t>() : 0;
}

void FillArguments(FuzzInput& in, DriverHost& host, Records& records) {
  records.items.resize(in.Byte() % 5);
  for (auto& r : records.items) FillRecord(in, host, records, r);
}

void Release(DriverHost& host, std::vector<TVariant>& items) {
  for (auto& r : items) {
    if (r.vt == addin::VTYPE_PSTR) r.vt = addin::VTYPE_EMPTY;  // ours, not the memory manager's
    host::ReleaseRecord(r, host.memory());
  }
  host.CheckMemory();
}

void FreeName(DriverHost& host, const addin::WCHAR_T* name) {
  void* block = const_cast<addin::WCHAR_T*>(name);
  host.memory().FreeMemory(&block);
  host.CheckMemory();
}

void RunOne(FuzzInput& in, DriverHost& host) {
  host::IComponentBase& c = host.object();
  switch (in.Byte() % 9) {
    case 0:
    case 1: {
      long number = Number(in, host);
      Records args;
      FillArguments(in, host, args);
      TVariant ret;
      std::memset(static_cast<void*>(&ret), 0, sizeof ret);
      TVariant* params = args.items.empty() ? nullptr : args.items.data();
      long size = static_cast<long>(args.items.size());
      if (in.Byte() & 1)
        c.CallAsFunc(number, &ret, params, size);
      else
        c.CallAsProc(number, params, size);
      std::vector<TVariant> result{ret};
      Release(host, result);
      Release(host, args.items);
      break;
    }
    case 2: {
      long number = Number(in, host);
      Records value;
      value.items.resize(1);
      FillRecord(in, host, value, value.items[0]);
      c.SetPropValue(number, value.items.data());
      Release(host, value.items);
      break;
    }
    case 3:
    case 4: {
      long number = Number(in, host);
      std::vector<TVariant> value(1);
      std::memset(static_cast<void*>(value.data()), 0, sizeof(TVariant));
      if (in.Byte() & 1)
        c.GetPropValue(number, value.data());
      else
        c.GetParamDefValue(number, Number(in, host), value.data());
      Release(host, value);
      break;
    }
    case 5: {
      std::u16string name = in.Text();
      c.FindMethod(name.c_str());
      c.FindProp(name.c_str());
      break;
    }
    case 6: {
      long number = Number(in, host);
      long alias = static_cast<long>(in.Byte() % 4);
      if (in.Byte() & 1)
        FreeName(host, c.GetMethodName(number, alias));
      else
        FreeName(host, c.GetPropName(number, alias));
      break;
    }
    case 7: {
      long number = Number(in, host);
      c.GetNParams(number);
      c.HasRetVal(number);
      c.IsPropReadable(number);
      c.IsPropWritable(number);
      break;
    }
    default: {
      std::u16string locale = in.Text();
      c.SetLocale(locale.c_str());
      addin::WCHAR_T* name = nullptr;
      c.RegisterExtensionAs(&name);
      FreeName(host, name);
      break;
    }
  }
}

}  // namespace
}  // namespace velquora::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace velquora::fuzz;
  FuzzInput in(data, size);
  DriverHost host(in.Chunk());  // the scale's answers
  for (int calls = 0; !in.empty() && calls < 64; ++calls) RunOne(in, host);
  return 0;
}
