// The Windows host's side of the boundary, laid out by hand as MSVC lays out the host's
// classes: one interface word per base class, each table opening with a single destructor
// entry, members called with the host's member calling convention.
#include <memory>
#include <vector>

#include "object_bridge.h"

namespace velquora::host {
namespace {

#define HOST_CALL VELQUORA_MEMBER_CALL

// A host object as the library sees it: the table word, then what it forwards to.
template <typename Target>
struct HandLaidObject {
  void* const* table;
  Target* target;
};

template <typename Target>
Target* Of(void* self) {
  return static_cast<HandLaidObject<Target>*>(self)->target;
}

// MSVC's scalar deleting destructor: `this` and the flags (thiscall on x86, callee pops them).
void HOST_CALL NoDestructor(void*, unsigned) {}

// IMemoryManager: destructor, AllocMemory, FreeMemory.
bool HOST_CALL Alloc(void* self, void** memory, unsigned long size) {
  return Of<IMemoryManager>(self)->AllocMemory(memory, size);
}
void HOST_CALL Free(void* self, void** memory) {
  Of<IMemoryManager>(self)->FreeMemory(memory);
}
void* const kMemoryTable[] = {reinterpret_cast<void*>(&NoDestructor),
                              reinterpret_cast<void*>(&Alloc), reinterpret_cast<void*>(&Free)};

// IAddInDefBase: destructor, then its eleven members in declaration order.
using Conn = IAddInDefBase;
bool HOST_CALL AddError(void* s, unsigned short code, const WCHAR_T* source, const WCHAR_T* descr,
                        long scode) {
  return Of<Conn>(s)->AddError(code, source, descr, scode);
}
bool HOST_CALL Read(void* s, WCHAR_T* name, TVariant* value, long* error, WCHAR_T** description) {
  return Of<Conn>(s)->Read(name, value, error, description);
}
bool HOST_CALL Write(void* s, WCHAR_T* name, TVariant* value) {
  return Of<Conn>(s)->Write(name, value);
}
bool HOST_CALL RegisterProfileAs(void* s, WCHAR_T* name) {
  return Of<Conn>(s)->RegisterProfileAs(name);
}
bool HOST_CALL SetEventBufferDepth(void* s, long depth) {
  return Of<Conn>(s)->SetEventBufferDepth(depth);
}
long HOST_CALL GetEventBufferDepth(void* s) {
  return Of<Conn>(s)->GetEventBufferDepth();
}
bool HOST_CALL ExternalEvent(void* s, WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) {
  return Of<Conn>(s)->ExternalEvent(source, message, data);
}
void HOST_CALL CleanEventBuffer(void* s) {
  Of<Conn>(s)->CleanEventBuffer();
}
bool HOST_CALL SetStatusLine(void* s, WCHAR_T* text) {
  return Of<Conn>(s)->SetStatusLine(text);
}
void HOST_CALL ResetStatusLine(void* s) {
  Of<Conn>(s)->ResetStatusLine();
}
void* HOST_CALL GetInterface(void* s, int number) {
  return Of<Conn>(s)->GetInterface(number);
}
template <typename F>
void* Entry(F f) {
  return reinterpret_cast<void*>(f);
}
void* const kConnectionTable[] = {Entry(&NoDestructor),
                                  Entry(&AddError),
                                  Entry(&Read),
                                  Entry(&Write),
                                  Entry(&RegisterProfileAs),
                                  Entry(&SetEventBufferDepth),
                                  Entry(&GetEventBufferDepth),
                                  Entry(&ExternalEvent),
                                  Entry(&CleanEventBuffer),
                                  Entry(&SetStatusLine),
                                  Entry(&ResetStatusLine),
                                  Entry(&GetInterface)};

// Calls entry `index` (after the one destructor entry) of the table that interface word `word`
// of `object` points to, with `this` at that word, as MSVC code does.
template <typename R, typename... Args>
R CallEntry(void* object, int word, int index, Args... args) {
  void* self = static_cast<void**>(object) + word;
  void* const* table = *static_cast<void* const* const*>(self);
  using Fn = R(HOST_CALL*)(void*, Args...);
  return reinterpret_cast<Fn>(table[1 + index])(self, args...);
}

// The component as the kit's C++ code sees it.
class MsvcComponent final : public IComponentBase {
 public:
  explicit MsvcComponent(void* object) : o_(object) {}
  void* object() const { return o_; }

  // IInitDoneBase: word 0.
  bool Init(void* connection) override {
    return CallEntry<bool>(o_, 0, 0,
                           HostObject(static_cast<IAddInDefBase*>(connection), kConnectionTable));
  }
  bool setMemManager(void* memory) override {
    return CallEntry<bool>(o_, 0, 1,
                           HostObject(static_cast<IMemoryManager*>(memory), kMemoryTable));
  }
  long GetInfo() override { return CallEntry<long>(o_, 0, 2); }
  void Done() override { CallEntry<void>(o_, 0, 3); }

  // ILanguageExtenderBase: word 1.
  bool RegisterExtensionAs(WCHAR_T** name) override { return CallEntry<bool>(o_, 1, 0, name); }
  long GetNProps() override { return CallEntry<long>(o_, 1, 1); }
  long FindProp(const WCHAR_T* name) override { return CallEntry<long>(o_, 1, 2, name); }
  const WCHAR_T* GetPropName(long num, long alias) override {
    return CallEntry<const WCHAR_T*>(o_, 1, 3, num, alias);
  }
  bool GetPropValue(long num, TVariant* value) override {
    return CallEntry<bool>(o_, 1, 4, num, value);
  }
  bool SetPropValue(long num, TVariant* value) override {
    return CallEntry<bool>(o_, 1, 5, num, value);
  }
  bool IsPropReadable(long num) override { return CallEntry<bool>(o_, 1, 6, num); }
  bool IsPropWritable(long num) override { return CallEntry<bool>(o_, 1, 7, num); }
  long GetNMethods() override { return CallEntry<long>(o_, 1, 8); }
  long FindMethod(const WCHAR_T* name) override { return CallEntry<long>(o_, 1, 9, name); }
  const WCHAR_T* GetMethodName(long num, long alias) override {
    return CallEntry<const WCHAR_T*>(o_, 1, 10, num, alias);
  }
  long GetNParams(long num) override { return CallEntry<long>(o_, 1, 11, num); }
  bool GetParamDefValue(long num, long param, TVariant* value) override {
    return CallEntry<bool>(o_, 1, 12, num, param, value);
  }
  bool HasRetVal(long num) override { return CallEntry<bool>(o_, 1, 13, num); }
  bool CallAsProc(long num, TVariant* params, long size) override {
    return CallEntry<bool>(o_, 1, 14, num, params, size);
  }
  bool CallAsFunc(long num, TVariant* ret, TVariant* params, long size) override {
    return CallEntry<bool>(o_, 1, 15, num, ret, params, size);
  }

  // LocaleBase: word 2.
  void SetLocale(const WCHAR_T* locale) override { CallEntry<void>(o_, 2, 0, locale); }

 private:
  // The hand-laid copy of a host object; it lives as long as the component.
  template <typename Target>
  void* HostObject(Target* target, void* const* table) {
    if (!target) return nullptr;
    auto object = std::make_unique<HandLaidObject<Target>>(HandLaidObject<Target>{table, target});
    void* raw = object.get();
    keep_.push_back(std::shared_ptr<void>(std::move(object)));
    return raw;
  }

  void* o_;
  std::vector<std::shared_ptr<void>> keep_;
};

}  // namespace

IComponentBase* WrapLibraryObject(void* object) {
  return object ? new MsvcComponent(object) : nullptr;
}

void* LibraryObjectOf(IComponentBase* component) {
  return component ? static_cast<MsvcComponent*>(component)->object() : nullptr;
}

void ReleaseWrapper(IComponentBase* component) {
  delete static_cast<MsvcComponent*>(component);
}

}  // namespace velquora::host
