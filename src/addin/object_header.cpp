#include "addin/object_header.h"

#include <new>
#include <type_traits>

#include "addin/component.h"

namespace velquora::addin {
namespace {

using Layout = HeaderLayout<TargetAbi>;

// The interface word the host called through; the component lies four words further on.
Component* Self(void* iface) {
  return static_cast<Component*>(static_cast<void**>(iface)[4]);
}

// The component is destroyed only through DestroyObject. A 32-bit host that deletes the object
// calls MSVC's scalar deleting destructor: thiscall with one flags argument, which the callee
// pops; without it the host's stack would be left a word off.
#if defined(_WIN32) && defined(__i386__)
void VELQUORA_MEMBER_CALL Destructor(void*, unsigned) {}
#else
void VELQUORA_MEMBER_CALL Destructor(void*) {}
#endif

// Forwarders, called as the host's compiler calls members (thiscall on 32-bit Windows): the
// component's operations catch everything themselves; the guard here only keeps
// a fault in a derived override from ever reaching the host.
bool VELQUORA_MEMBER_CALL Init(void* i, void* connection) noexcept {
  try {
    return Self(i)->Init(connection);
  } catch (...) {
    return false;
  }
}
bool VELQUORA_MEMBER_CALL SetMemManager(void* i, void* memory) noexcept {
  try {
    return Self(i)->setMemManager(memory);
  } catch (...) {
    return false;
  }
}
HostLong VELQUORA_MEMBER_CALL GetInfo(void* i) noexcept {
  try {
    return Self(i)->GetInfo();
  } catch (...) {
    return 0;
  }
}
void VELQUORA_MEMBER_CALL Done(void* i) noexcept {
  try {
    Self(i)->Done();
  } catch (...) {
  }
}
bool VELQUORA_MEMBER_CALL RegisterExtensionAs(void* i, WCHAR_T** name) noexcept {
  try {
    return Self(i)->RegisterExtensionAs(name);
  } catch (...) {
    return false;
  }
}
HostLong VELQUORA_MEMBER_CALL GetNProps(void* i) noexcept {
  try {
    return Self(i)->GetNProps();
  } catch (...) {
    return 0;
  }
}
HostLong VELQUORA_MEMBER_CALL FindProp(void* i, const WCHAR_T* name) noexcept {
  try {
    return Self(i)->FindProp(name);
  } catch (...) {
    return -1;
  }
}
const WCHAR_T* VELQUORA_MEMBER_CALL GetPropName(void* i, HostLong num, HostLong alias) noexcept {
  try {
    return Self(i)->GetPropName(num, alias);
  } catch (...) {
    return nullptr;
  }
}
bool VELQUORA_MEMBER_CALL GetPropValue(void* i, HostLong num, TVariant* value) noexcept {
  try {
    return Self(i)->GetPropValue(num, value);
  } catch (...) {
    return false;
  }
}
bool VELQUORA_MEMBER_CALL SetPropValue(void* i, HostLong num, TVariant* value) noexcept {
  try {
    return Self(i)->SetPropValue(num, value);
  } catch (...) {
    return false;
  }
}
bool VELQUORA_MEMBER_CALL IsPropReadable(void* i, HostLong num) noexcept {
  try {
    return Self(i)->IsPropReadable(num);
  } catch (...) {
    return false;
  }
}
bool VELQUORA_MEMBER_CALL IsPropWritable(void* i, HostLong num) noexcept {
  try {
    return Self(i)->IsPropWritable(num);
  } catch (...) {
    return false;
  }
}
HostLong VELQUORA_MEMBER_CALL GetNMethods(void* i) noexcept {
  try {
    return Self(i)->GetNMethods();
  } catch (...) {
    return 0;
  }
}
HostLong VELQUORA_MEMBER_CALL FindMethod(void* i, const WCHAR_T* name) noexcept {
  try {
    return Self(i)->FindMethod(name);
  } catch (...) {
    return -1;
  }
}
const WCHAR_T* VELQUORA_MEMBER_CALL GetMethodName(void* i, HostLong num, HostLong alias) noexcept {
  try {
    return Self(i)->GetMethodName(num, alias);
  } catch (...) {
    return nullptr;
  }
}
HostLong VELQUORA_MEMBER_CALL GetNParams(void* i, HostLong num) noexcept {
  try {
    return Self(i)->GetNParams(num);
  } catch (...) {
    return 0;
  }
}
bool VELQUORA_MEMBER_CALL GetParamDefValue(void* i, HostLong num, HostLong param,
                                           TVariant* value) noexcept {
  try {
    return Self(i)->GetParamDefValue(num, param, value);
  } catch (...) {
    return false;
  }
}
bool VELQUORA_MEMBER_CALL HasRetVal(void* i, HostLong num) noexcept {
  try {
    return Self(i)->HasRetVal(num);
  } catch (...) {
    return false;
  }
}
bool VELQUORA_MEMBER_CALL CallAsProc(void* i, HostLong num, TVariant* params,
                                     HostLong size) noexcept {
  try {
    return Self(i)->CallAsProc(num, params, size);
  } catch (...) {
    return false;
  }
}
bool VELQUORA_MEMBER_CALL CallAsFunc(void* i, HostLong num, TVariant* ret, TVariant* params,
                                     HostLong size) noexcept {
  try {
    return Self(i)->CallAsFunc(num, ret, params, size);
  } catch (...) {
    return false;
  }
}
void VELQUORA_MEMBER_CALL SetLocale(void* i, const WCHAR_T* locale) noexcept {
  try {
    Self(i)->SetLocale(locale);
  } catch (...) {
  }
}

#if defined(_WIN32) && defined(__i386__)
static_assert(
    !IsMemberCall<void(void*)>::value &&
    std::is_same_v<decltype(Destructor), void __attribute__((thiscall)) (void*, unsigned)>);
// The object in 4-byte words: the byte offsets an MSVC x86 host reads.
static_assert(sizeof(void*) == 4 && Layout::kWords * sizeof(void*) == 136 &&
              Layout::kSecond * sizeof(void*) == 52 && Layout::kThird * sizeof(void*) == 120 &&
              Layout::kSpare * sizeof(void*) == 128 && Layout::kSelf * sizeof(void*) == 132);
#endif

template <typename F>
void* Address(F* f) {
  static_assert(IsMemberCall<F>::value,
                "a host-facing entry lacks the host's member calling convention");
  return reinterpret_cast<void*>(f);
}

}  // namespace

const EntryAddresses& ForwardingEntries() {
  static const EntryAddresses entries = {
      Address(&Destructor),
      {Address(&Init), Address(&SetMemManager), Address(&GetInfo), Address(&Done)},
      {Address(&RegisterExtensionAs), Address(&GetNProps), Address(&FindProp),
       Address(&GetPropName), Address(&GetPropValue), Address(&SetPropValue),
       Address(&IsPropReadable), Address(&IsPropWritable), Address(&GetNMethods),
       Address(&FindMethod), Address(&GetMethodName), Address(&GetNParams),
       Address(&GetParamDefValue), Address(&HasRetVal), Address(&CallAsProc), Address(&CallAsFunc)},
      {Address(&SetLocale)},
  };
  return entries;
}

void* BuildObjectHeader(Component* component) {
  auto* words = new void*[Layout::kWords];
  FillObjectHeader<TargetAbi>(words, component);
  return words;
}

Component* ComponentOfHeader(void* header) {
  return static_cast<Component*>(static_cast<void**>(header)[Layout::kSelf]);
}

void FreeObjectHeader(void* header) {
  delete[] static_cast<void**>(header);
}

}  // namespace velquora::addin
