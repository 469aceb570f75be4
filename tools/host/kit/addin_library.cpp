#include "addin_library.h"

#include <cstring>
#include <stdexcept>

#include "common/text.h"
#include "library_loader.h"
#include "object_bridge.h"

namespace velquora::host {

using namespace addin;

std::string ValueText(const Value& v) {
  struct {
    std::string operator()(std::monostate) const { return ""; }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(std::int32_t i) const { return std::to_string(i); }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const { return std::to_string(d); }
    std::string operator()(const std::u16string& s) const { return ToUtf8(s); }
    std::string operator()(const Blob& b) const {
      return "<" + std::to_string(b.bytes.size()) + " bytes>";
    }
  } visit;
  return std::visit(visit, v);
}

AddinLibrary::AddinLibrary(const std::string& path, bool deep_bind) {
  handle_ = LoadLibraryFile(path, deep_bind);
  get_class_names_ =
      reinterpret_cast<decltype(get_class_names_)>(FindExport(handle_, "GetClassNames"));
  get_class_object_ =
      reinterpret_cast<decltype(get_class_object_)>(FindExport(handle_, "GetClassObject"));
  destroy_object_ =
      reinterpret_cast<decltype(destroy_object_)>(FindExport(handle_, "DestroyObject"));
  if (!get_class_names_ || !get_class_object_ || !destroy_object_) {
    UnloadLibrary(handle_);
    throw std::runtime_error(path + " does not export the add-in entry points");
  }
}

AddinLibrary::~AddinLibrary() {
  if (handle_) UnloadLibrary(handle_);
}

std::u16string AddinLibrary::ClassNames() const {
  return Str(get_class_names_());
}

long AddinLibrary::ClassObject(const std::u16string& name, IComponentBase** object) const {
  void* raw = nullptr;
  long result = get_class_object_(name.c_str(), &raw);
  *object = WrapLibraryObject(raw);
  return result;
}

long AddinLibrary::Destroy(IComponentBase** object) const {
  void* raw = LibraryObjectOf(*object);
  long result = destroy_object_(&raw);
  if (!raw) {
    ReleaseWrapper(*object);
    *object = nullptr;
  }
  return result;
}

TVariant ToRecord(const Value& v, IMemoryManager& memory) {
  TVariant r;
  std::memset(static_cast<void*>(&r), 0, sizeof r);
  if (std::holds_alternative<bool>(v)) {
    r.vt = VTYPE_BOOL;
    r.bVal = std::get<bool>(v);
  } else if (std::holds_alternative<std::int32_t>(v)) {
    r.vt = VTYPE_I4;
    r.lVal = std::get<std::int32_t>(v);
  } else if (std::holds_alternative<std::int64_t>(v)) {
    r.vt = VTYPE_I8;
    r.llVal = std::get<std::int64_t>(v);
  } else if (std::holds_alternative<double>(v)) {
    r.vt = VTYPE_R8;
    r.dblVal = std::get<double>(v);
  } else if (std::holds_alternative<std::u16string>(v)) {
    const auto& s = std::get<std::u16string>(v);
    void* block = nullptr;
    memory.AllocMemory(&block, static_cast<unsigned long>((s.size() + 1) * 2));
    std::memcpy(block, s.c_str(), (s.size() + 1) * 2);
    r.vt = VTYPE_PWSTR;
    r.wstr.pwstrVal = static_cast<WCHAR_T*>(block);
    r.wstr.wstrLen = static_cast<std::uint32_t>(s.size());
  } else if (std::holds_alternative<Blob>(v)) {
    const auto& b = std::get<Blob>(v).bytes;
    void* block = nullptr;
    memory.AllocMemory(&block, static_cast<unsigned long>(b.size()));
    if (!b.empty()) std::memcpy(block, b.data(), b.size());
    r.vt = VTYPE_BLOB;
    r.str.pstrVal = static_cast<char*>(block);
    r.str.strLen = static_cast<std::uint32_t>(b.size());
  }
  return r;
}

Value FromRecord(const TVariant& r) {
  switch (r.vt) {
    case VTYPE_BOOL:
      return r.bVal;
    case VTYPE_I4:
      return std::int32_t{r.lVal};
    case VTYPE_I8:
      return std::int64_t{r.llVal};
    case VTYPE_R8:
    case VTYPE_DATE:
      return r.dblVal;
    case VTYPE_PWSTR:
      return std::u16string(r.wstr.pwstrVal, r.wstr.wstrLen);
    case VTYPE_BLOB:
      return Blob{std::string(r.str.pstrVal ? r.str.pstrVal : "", r.str.strLen)};
    default:
      return std::monostate{};
  }
}

void ReleaseRecord(TVariant& r, IMemoryManager& memory) {
  if (r.vt == VTYPE_PWSTR && r.wstr.pwstrVal)
    memory.FreeMemory(reinterpret_cast<void**>(&r.wstr.pwstrVal));
  if (r.vt == VTYPE_BLOB && r.str.pstrVal)
    memory.FreeMemory(reinterpret_cast<void**>(&r.str.pstrVal));
  r.vt = VTYPE_EMPTY;
}

Component::Component(const AddinLibrary& library, const std::u16string& class_name)
    : library_(library) {
  if (library_.ClassObject(class_name, &object_) != 1 || !object_) {
    throw std::runtime_error("the library has no class " + ToUtf8(class_name));
  }
  object_->Init(static_cast<IAddInDefBase*>(&connection_));
  object_->setMemManager(static_cast<IMemoryManager*>(&memory_));
}

Component::~Component() {
  Destroy();
}

void Component::Destroy() {
  if (object_) library_.Destroy(&object_);
}

long Component::FindMethod(const std::u16string& name) const {
  return object_->FindMethod(name.c_str());
}

CallResult Component::Call(const std::u16string& method, std::vector<Value> args) {
  long number = FindMethod(method);
  if (number < 0) throw std::runtime_error("no method " + ToUtf8(method));
  return CallByNumber(number, std::move(args));
}

CallResult Component::CallByNumber(long number, std::vector<Value> args) {
  std::vector<TVariant> records;
  for (const auto& a : args) records.push_back(ToRecord(a, memory_));
  TVariant ret;
  std::memset(static_cast<void*>(&ret), 0, sizeof ret);
  CallResult out;
  out.ok = object_->CallAsFunc(number, &ret, records.empty() ? nullptr : records.data(),
                               static_cast<long>(records.size()));
  out.result = FromRecord(ret);
  ReleaseRecord(ret, memory_);
  for (auto& r : records) {
    out.args.push_back(FromRecord(r));
    ReleaseRecord(r, memory_);
  }
  return out;
}

bool Component::CallAsProc(const std::u16string& method, std::vector<Value> args) {
  std::vector<TVariant> records;
  for (const auto& a : args) records.push_back(ToRecord(a, memory_));
  bool ok = object_->CallAsProc(FindMethod(method), records.empty() ? nullptr : records.data(),
                                static_cast<long>(records.size()));
  for (auto& r : records) ReleaseRecord(r, memory_);
  return ok;
}

Value Component::Property(const std::u16string& name) {
  TVariant r;
  std::memset(static_cast<void*>(&r), 0, sizeof r);
  long number = object_->FindProp(name.c_str());
  if (number < 0 || !object_->GetPropValue(number, &r)) return std::monostate{};
  Value v = FromRecord(r);
  ReleaseRecord(r, memory_);
  return v;
}

void Component::FreeHostString(const WCHAR_T* s) {
  void* block = const_cast<WCHAR_T*>(s);
  if (block) memory_.FreeMemory(&block);
}

std::u16string Component::MethodName(long number, long alias) {
  const WCHAR_T* s = object_->GetMethodName(number, alias);
  std::u16string text = Str(s);
  FreeHostString(s);
  return text;
}

std::u16string Component::PropName(long number, long alias) {
  const WCHAR_T* s = object_->GetPropName(number, alias);
  std::u16string text = Str(s);
  FreeHostString(s);
  return text;
}

}  // namespace velquora::host
