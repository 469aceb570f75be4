#pragma once
// The component classes the library offers the host, and the work of the exported entry points.
// The library's entry adds its classes at load time.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "addin/component.h"
#include "addin/host_abi.h"

namespace velquora::addin {

struct ComponentClass {
  const char16_t* name;  // what GetClassObject is asked for, exactly
  std::unique_ptr<Component> (*create)();
};

class ComponentClasses {
 public:
  void Add(const ComponentClass& cls) { classes_.push_back(cls); }
  // The class of exactly this name (letter case counts), or null.
  const ComponentClass* Find(std::u16string_view name) const;
  // The names joined by "|", in the order the classes were added.
  std::u16string Names() const;
  void Clear() { classes_.clear(); }

 private:
  std::vector<ComponentClass> classes_;
};

// The classes of this library.
ComponentClasses& LibraryClasses();

// Library-wide work that must not run while the system's loader holds its lock (Windows runs
// static constructors and destructors under it): `setup` runs once, at the first exported call;
// `last_object_gone` each time DestroyObject destroys the last live object.
void DeferLibrarySteps(void (*setup)(), void (*last_object_gone)());

// The exported functions' work; none of them throws.
const WCHAR_T* ClassNamesImpl() noexcept;
HostLong ClassObjectImpl(const WCHAR_T* name, void** object) noexcept;
HostLong DestroyObjectImpl(void** object) noexcept;

}  // namespace velquora::addin
