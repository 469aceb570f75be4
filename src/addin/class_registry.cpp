#include "addin/class_registry.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "addin/component.h"
#include "addin/object_header.h"

namespace velquora::addin {
namespace {

constexpr std::size_t kNamesUnits = 1004;  // 2,008 bytes
WCHAR_T g_class_names[kNamesUnits];

void (*g_setup)() = nullptr;
void (*g_last_object_gone)() = nullptr;
std::once_flag g_setup_once;
std::atomic<long> g_live_objects{0};

void RunDeferredSetup() noexcept {
  if (!g_setup) return;
  try {
    std::call_once(g_setup_once, g_setup);
  } catch (...) {
    // A library that cannot set itself up offers no classes.
  }
}

}  // namespace

void DeferLibrarySteps(void (*setup)(), void (*last_object_gone)()) {
  g_setup = setup;
  g_last_object_gone = last_object_gone;
}

ComponentClasses& LibraryClasses() {
  static ComponentClasses classes;
  return classes;
}

const ComponentClass* ComponentClasses::Find(std::u16string_view name) const {
  for (const auto& cls : classes_) {
    if (name == cls.name) return &cls;
  }
  return nullptr;
}

std::u16string ComponentClasses::Names() const {
  std::u16string list;
  for (const auto& cls : classes_) {
    if (!list.empty()) list += u'|';
    list += cls.name;
  }
  return list;
}

const WCHAR_T* ClassNamesImpl() noexcept {
  RunDeferredSetup();
  try {
    const std::u16string list = LibraryClasses().Names();
    // Never past the buffer: a list that does not fit is cut, the terminator always stays.
    std::size_t units = std::min(list.size(), kNamesUnits - 1);
    std::memset(g_class_names, 0, (units + 1) * sizeof(WCHAR_T));
    std::memcpy(g_class_names, list.data(), units * sizeof(WCHAR_T));
  } catch (...) {
    g_class_names[0] = 0;
  }
  return g_class_names;
}

HostLong ClassObjectImpl(const WCHAR_T* name, void** object) noexcept {
  if (!object) return 0;
  *object = nullptr;
  if (!name) return 0;
  RunDeferredSetup();
  try {
    const ComponentClass* cls = LibraryClasses().Find(name);
    if (!cls) return 0;
    std::unique_ptr<Component> component = cls->create();
    void* header = component->NewObjectHeader();
    component.release();
    *object = header;
    ++g_live_objects;
    return 1;
  } catch (...) {
    *object = nullptr;
  }
  return 0;
}

HostLong DestroyObjectImpl(void** object) noexcept {
  if (!object || !*object) return 0;
  try {
    delete ComponentOfHeader(*object);
  } catch (...) {
  }
  FreeObjectHeader(*object);
  *object = nullptr;
  if (--g_live_objects == 0 && g_last_object_gone) {
    try {
      g_last_object_gone();
    } catch (...) {
    }
  }
  return 0;
}

}  // namespace velquora::addin
