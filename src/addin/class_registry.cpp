#include "addin/class_registry.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "addin/component.h"
#include "addin/object_header.h"

namespace velquora::addin {
namespace {

constexpr std::size_t kNamesUnits = 1004;  // 2,008 bytes
WCHAR_T g_class_names[kNamesUnits];

void (*g_setup)() = nullptr;
void (*g_last_object_gone)() = nullptr;
// Not std::call_once: on Windows the thread library behind it keeps kernel objects for every
// once-flag it has seen and never closes them, so each load and unload of the library would
// leave handles behind in the host. The setup runs once per load and is short; a second caller
// arriving meanwhile only yields until it is done.
enum class SetupState { kNotRun, kRunning, kDone };
std::atomic<SetupState> g_setup_state{SetupState::kNotRun};
std::atomic<long> g_live_objects{0};

void RunDeferredSetup() noexcept {
  if (!g_setup) return;
  for (;;) {
    SetupState expected = SetupState::kNotRun;
    if (g_setup_state.compare_exchange_strong(expected, SetupState::kRunning)) break;
    if (expected == SetupState::kDone) return;
    std::this_thread::yield();
  }
  try {
    g_setup();
    g_setup_state.store(SetupState::kDone);
  } catch (...) {
    // A library that cannot set itself up offers no classes; the next call tries again.
    g_setup_state.store(SetupState::kNotRun);
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
