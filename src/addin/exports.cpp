// The library's only exported symbols: what the host looks up after loading it.
#include "addin/class_registry.h"

#if defined(_WIN32)
#define VELQUORA_EXPORT extern "C" __declspec(dllexport)
#else
#define VELQUORA_EXPORT extern "C" __attribute__((visibility("default")))
#endif

using velquora::addin::HostLong;
using velquora::addin::WCHAR_T;

VELQUORA_EXPORT const WCHAR_T* GetClassNames() {
  return velquora::addin::ClassNamesImpl();
}

VELQUORA_EXPORT HostLong GetClassObject(const WCHAR_T* name, void** object) {
  return velquora::addin::ClassObjectImpl(name, object);
}

VELQUORA_EXPORT HostLong DestroyObject(void** object) {
  return velquora::addin::DestroyObjectImpl(object);
}
