#pragma once
// The base of every component the host creates: bilingual method and property registries and
// the operations the host reaches through the entry tables.
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "addin/host_abi.h"
#include "addin/host_objects.h"
#include "addin/variant.h"

namespace velquora::addin {

using TObjectMethod = std::function<Variant(VarArrayData&)>;

struct TMethod {
  std::u16string MethodName1;  // Russian
  std::u16string MethodName2;  // English
  int ParamsCount = 0;
  TObjectMethod Mt;
};

struct TProperty {
  std::u16string PropertyName1;
  std::u16string PropertyName2;
  bool isReadonly = false;
  Variant Value;
};

inline constexpr char16_t kLastErrorNameRu[] = u"ОписаниеПоследнейОшибки";
inline constexpr char16_t kLastErrorNameEn[] = u"LastErrorDescription";
inline constexpr int kExtraMethodBase = 30000;

class TCustomNativeComponent {
 public:
  TCustomNativeComponent();
  virtual ~TCustomNativeComponent();
  TCustomNativeComponent(const TCustomNativeComponent&) = delete;
  TCustomNativeComponent& operator=(const TCustomNativeComponent&) = delete;

  // Hooks for methods outside the registry.
  virtual long FindExtraMethod(const std::u16string& name);
  virtual Variant CallExtraMethod(long index, VarArrayData& params);
  virtual long GetExtraNParams(long index);
  virtual std::u16string GetExtraMethodName(long index, long alias);

  static std::u16string NCClassName() { return u"AddInNativeExtension"; }
  // The class name of the object at hand (NCClassName of the most derived class).
  virtual std::u16string ClassName() const { return NCClassName(); }
  virtual std::u16string GetFileVersion() const;
  virtual void OnInit() {}
  virtual void OnDone() {}
  // Run by the class factory right after construction and right before destruction, where
  // virtual calls reach the most derived class (constructors and destructors cannot).
  virtual void AfterConstruction() {}
  virtual void BeforeDestruction() noexcept {}

  // Method registry.
  long mt_Count() const { return static_cast<long>(methods_.size()); }
  void mt_Add(const std::u16string& name1, const std::u16string& name2, int params,
              TObjectMethod mt);
  long mt_Find(const std::u16string& name);
  TMethod mt_Get(long index) const;
  void mt_Clear() {
    methods_.clear();
    method_index_.clear();
  }
  Variant mt_Call(long index, VarArrayData& params);

  // Property registry.
  long pt_Count() const { return static_cast<long>(properties_.size()); }
  virtual void pt_Add(const std::u16string& name1, const std::u16string& name2, bool readonly,
                      const Variant& value);
  long pt_Find(const std::u16string& name) const;
  TProperty pt_Get(long index) const;
  void pt_Clear() {
    properties_.clear();
    property_index_.clear();
  }
  Variant Getpt_Value(const std::u16string& name) const;
  Variant Getpt_ValueDirect(const std::u16string& name) const { return Getpt_Value(name); }
  void Setpt_Value(const std::u16string& name, const Variant& value);
  void Setpt_ValueDirect(const std::u16string& name, const Variant& value);

  // Host-facing operations (entry-table order).
  virtual bool Init(void* connection);
  virtual bool setMemManager(void* memory);
  virtual HostLong GetInfo();
  virtual void Done();
  virtual bool RegisterExtensionAs(WCHAR_T** name);
  virtual HostLong GetNProps();
  virtual HostLong FindProp(const WCHAR_T* name);
  virtual const WCHAR_T* GetPropName(HostLong num, HostLong alias);
  virtual bool GetPropValue(HostLong num, TVariant* value);
  virtual bool SetPropValue(HostLong num, TVariant* value);
  virtual bool IsPropReadable(HostLong num);
  virtual bool IsPropWritable(HostLong num);
  virtual HostLong GetNMethods();
  virtual HostLong FindMethod(const WCHAR_T* name);
  virtual const WCHAR_T* GetMethodName(HostLong num, HostLong alias);
  virtual HostLong GetNParams(HostLong num);
  virtual bool GetParamDefValue(HostLong num, HostLong param, TVariant* value);
  virtual bool HasRetVal(HostLong num);
  virtual bool CallAsProc(HostLong num, TVariant* params, HostLong size);
  virtual bool CallAsFunc(HostLong num, TVariant* ret, TVariant* params, HostLong size);
  virtual void SetLocale(const WCHAR_T* locale);

  const HostMemory& MemoryManager() const { return memory_; }
  const HostConnection& Connection() const { return connection_; }

  // The host-facing object for this component (built by hand, see object_header.h).
  void* GetNativeComponentObjectHeader();

 protected:
  // The method-name text of an index: alias 0 Russian, 1 English, others empty.
  std::u16string MethodNameText(long index, long alias);
  // Reports a failed call to the host: AddError(1006, source, message, code); never throws.
  void ReportToHost(const std::u16string& source, const std::u16string& message, HostLong code);
  // Converts the host's argument records into the handler's array.
  VarArrayData ArgumentsFromHost(const TVariant* params, HostLong size);
  void ArgumentsToHost(const VarArrayData& args, TVariant* params, HostLong size);
  // Hooks of the CallAsFunc path: after the arguments are read, and after the result is stored
  // (before the arguments are written back). Nothing by default; traced components log here.
  virtual void TraceCall(HostLong, const VarArrayData&) {}
  virtual void TraceResult(HostLong, const Variant&, const VarArrayData&) {}
  // The failure steps of CallAsFunc; never throw.
  bool FailCallAsFunc(HostLong num, const std::u16string& message);
  // A host string with the component's memory manager, or null if it cannot be made.
  WCHAR_T* NewHostString(const std::u16string& text) noexcept;

 private:
  // Entries in registration order, and every name of them case-folded with the first entry
  // that bears it: one look-up instead of a comparison with each name registered.
  using NameIndex = std::unordered_map<std::u16string, long>;
  static long FindIn(const NameIndex& index, const std::u16string& name);
  static void AddTo(NameIndex& index, const std::u16string& name, long entry);
  std::vector<TMethod> methods_;
  std::vector<TProperty> properties_;
  NameIndex method_index_;
  NameIndex property_index_;
  HostMemory memory_;
  HostConnection connection_;
};

}  // namespace velquora::addin
