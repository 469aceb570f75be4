#pragma once
// What a host compiled for this platform expects at the boundary: its string unit, its value
// record, its integer widths and how its C++ objects lay out their entry tables.
#include <cstddef>
#include <cstdint>
#include <ctime>

namespace velquora::addin {

using WCHAR_T = char16_t;
using HostLong = long;            // indices, counts, numbers: C++ long of the host
using HostULong = unsigned long;  // AllocMemory's size

// Value record tags.
enum VarTag : std::uint16_t {
  VTYPE_EMPTY = 0,
  VTYPE_NULL = 1,
  VTYPE_I2 = 2,
  VTYPE_I4 = 3,
  VTYPE_R4 = 4,
  VTYPE_R8 = 5,
  VTYPE_DATE = 6,
  VTYPE_TM = 7,
  VTYPE_PSTR = 8,
  VTYPE_INTERFACE = 9,
  VTYPE_ERROR = 10,
  VTYPE_BOOL = 11,
  VTYPE_VARIANT = 12,
  VTYPE_I1 = 13,
  VTYPE_UI1 = 14,
  VTYPE_UI2 = 15,
  VTYPE_UI4 = 16,
  VTYPE_I8 = 17,
  VTYPE_UI8 = 18,
  VTYPE_INT = 19,
  VTYPE_UINT = 20,
  VTYPE_HRESULT = 21,
  VTYPE_PWSTR = 22,
  VTYPE_BLOB = 23,
  VTYPE_CLSID = 24,
};

struct HostId {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
};

// The host's value record. Its size follows the platform's struct tm: 48 bytes on Windows (x64
// and x86 alike: the union holds 8-byte members and a 36-byte struct tm), 64 on Linux x86-64.
struct TVariant {
  union {
    std::int8_t i8Val;
    std::int16_t shortVal;
    std::int32_t lVal;
    int intVal;
    unsigned int uintVal;
    std::int64_t llVal;
    std::uint8_t ui8Val;
    std::uint16_t ushortVal;
    std::uint32_t ulVal;
    std::uint64_t ullVal;
    std::int32_t errCode;
    float fltVal;
    double dblVal;
    bool bVal;
    double date;
    HostId IDVal;
    std::tm tmVal;
    struct {
      void* pInterfaceVal;
      HostId InterfaceID;
    } iface;
    struct {
      char* pstrVal;
      std::uint32_t strLen;
    } str;
    struct {
      WCHAR_T* pwstrVal;
      std::uint32_t wstrLen;
    } wstr;
  };
  std::uint32_t cbElements;
  std::uint16_t vt;
};

// The object's words are pointers: 8 bytes on the 64-bit targets, 4 on 32-bit Windows.
static_assert(offsetof(TVariant, str) == 0);
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(void*) == 4);
#else
static_assert(sizeof(void*) == 8);
#endif
#if defined(_WIN32)
static_assert(sizeof(TVariant) == 48 && offsetof(TVariant, cbElements) == 40 &&
              offsetof(TVariant, vt) == 44);
#elif defined(__linux__) && defined(__x86_64__)
static_assert(sizeof(TVariant) == 64 && offsetof(TVariant, cbElements) == 56 &&
              offsetof(TVariant, vt) == 60);
#endif

// How a host's C++ objects lay out their entry tables.
struct ItaniumAbi {
  static constexpr int kDestructorEntries = 2;  // complete and deleting destructor
  static constexpr int kInterfaceAdjustWords = 0;
};
struct MsvcAbi {
  static constexpr int kDestructorEntries = 1;
  static constexpr int kInterfaceAdjustWords = 1;  // GetInterface answers one word past the object
};

#if defined(_MSC_VER) || defined(_WIN32)
using TargetAbi = MsvcAbi;
#else
using TargetAbi = ItaniumAbi;
#endif

// How a host's compiler calls a C++ member function: on 32-bit Windows MSVC passes `this` in
// ECX and the callee pops the arguments (thiscall); elsewhere `this` is the first argument.
#if defined(_WIN32) && defined(__i386__)
#define VELQUORA_MEMBER_CALL __attribute__((thiscall))
#else
#define VELQUORA_MEMBER_CALL
#endif

}  // namespace velquora::addin
