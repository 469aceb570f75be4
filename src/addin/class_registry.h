#pragma once
// The component classes a library offers the host (TNCList) and the exported entry points'
// logic. Each shared library registers its classes at load time.
#include <memory>
#include <string>

#include "addin/component.h"
#include "addin/host_abi.h"

namespace velquora::addin {

class TCustomNativeComponent;

struct ComponentClass {
  std::u16string (*name)();  // the class's NCClassName, asked without an object
  std::unique_ptr<TCustomNativeComponent> (*create)();
};

template <typename T>
ComponentClass ClassOf() {
  return {&T::NCClassName, [] {
            std::unique_ptr<TCustomNativeComponent> object(new T());
            object->AfterConstruction();
            return object;
          }};
}

void RegisterComponentClass(const ComponentClass& cls);
void ClearComponentClasses();

// Library-wide work that must not run while the system's loader holds its lock (Windows runs
// static constructors and destructors under it): `setup` runs once, at the first exported call;
// `last_object_gone` each time DestroyObject destroys the last live object.
void DeferLibrarySteps(void (*setup)(), void (*last_object_gone)());

// The exported functions' work; none of them throws.
const WCHAR_T* ClassNamesImpl() noexcept;
HostLong ClassObjectImpl(const WCHAR_T* name, void** object) noexcept;
HostLong DestroyObjectImpl(void** object) noexcept;

}  // namespace velquora::addin
