#include "addin/component.h"

#include "addin/host_strings.h"
#include "addin/object_header.h"
#include "addin/value_conversion.h"
#include "common/error.h"
#include "common/text.h"
#include "platform/case_mapping.h"
#include "platform/library_file.h"

namespace velquora::addin {
namespace {

constexpr unsigned short kAddErrorCode = 1006;

std::u16string IndexMessage(long index) {
  return u"Индекс за границами массива [" + IntToText16(index) + u"]";
}

}  // namespace

TCustomNativeComponent::TCustomNativeComponent() {
  pt_Add(kLastErrorNameRu, kLastErrorNameEn, true, Variant::String(u""));
}

TCustomNativeComponent::~TCustomNativeComponent() = default;

long TCustomNativeComponent::FindExtraMethod(const std::u16string&) {
  return -1;
}
Variant TCustomNativeComponent::CallExtraMethod(long, VarArrayData&) {
  return Variant::Bool(false);
}
long TCustomNativeComponent::GetExtraNParams(long) {
  return 0;
}
std::u16string TCustomNativeComponent::GetExtraMethodName(long, long) {
  return {};
}

std::u16string TCustomNativeComponent::GetFileVersion() const {
  return ToUtf16(platform::FileVersionText(platform::OwnLibraryPath()));
}

// ---- name index ----

long TCustomNativeComponent::FindIn(const NameIndex& index, const std::u16string& name) {
  auto it = index.find(platform::FoldedText(name));
  return it == index.end() ? -1 : it->second;
}

void TCustomNativeComponent::AddTo(NameIndex& index, const std::u16string& name, long entry) {
  index.emplace(platform::FoldedText(name), entry);  // an earlier entry with the name keeps it
}

// ---- method registry ----

void TCustomNativeComponent::mt_Add(const std::u16string& name1, const std::u16string& name2,
                                    int params, TObjectMethod mt) {
  if (mt_Find(name1) != -1 || mt_Find(name2) != -1) {
    throw Error(ErrorKind::kInvalid,
                u"Метод с указанным именем уже зарегистрирован. [" + name1 + u"," + name2 + u"]");
  }
  methods_.push_back({name1, name2, params, std::move(mt)});
  const long entry = mt_Count() - 1;
  AddTo(method_index_, name1, entry);
  AddTo(method_index_, name2, entry);
}

long TCustomNativeComponent::mt_Find(const std::u16string& name) {
  if (long found = FindIn(method_index_, name); found != -1) return found;
  long extra = FindExtraMethod(name);
  return extra == -1 ? -1 : extra + kExtraMethodBase;
}

TMethod TCustomNativeComponent::mt_Get(long index) const {
  if (index < 0 || index >= mt_Count()) throw Error(ErrorKind::kInvalid, IndexMessage(index));
  return methods_[static_cast<std::size_t>(index)];
}

Variant TCustomNativeComponent::mt_Call(long index, VarArrayData& params) {
  // Every index goes through the registry, those from kExtraMethodBase up too: only names and
  // parameter counts of such indices come from the hooks.
  TMethod entry = mt_Get(index);
  if (!entry.Mt)
    throw Error(ErrorKind::kInternal,
                "mt_Call: Method (Mt.Mt) is not assigned! (addin/component.cpp)");
  return entry.Mt(params);
}

// ---- property registry ----

void TCustomNativeComponent::pt_Add(const std::u16string& name1, const std::u16string& name2,
                                    bool readonly, const Variant& value) {
  // An empty name never counts as taken: settings registered by the host have no English name.
  if ((!name1.empty() && pt_Find(name1) != -1) || (!name2.empty() && pt_Find(name2) != -1)) {
    throw Error(ErrorKind::kInvalid, u"Свойство с указанным именем уже зарегистрировано. [" +
                                         name1 + u"," + name2 + u"]");
  }
  properties_.push_back({name1, name2, readonly, value});
  const long entry = pt_Count() - 1;
  // An empty name is never found (see pt_Find), so it is not indexed.
  if (!name1.empty()) AddTo(property_index_, name1, entry);
  if (!name2.empty()) AddTo(property_index_, name2, entry);
}

long TCustomNativeComponent::pt_Find(const std::u16string& name) const {
  if (name.empty()) return -1;
  return FindIn(property_index_, name);
}

TProperty TCustomNativeComponent::pt_Get(long index) const {
  if (index < 0 || index >= pt_Count()) throw Error(ErrorKind::kInvalid, IndexMessage(index));
  return properties_[static_cast<std::size_t>(index)];
}

Variant TCustomNativeComponent::Getpt_Value(const std::u16string& name) const {
  long i = pt_Find(name);
  if (i == -1) throw Error(ErrorKind::kNotFound, u"Свойство \"" + name + u"\" не существует");
  return properties_[static_cast<std::size_t>(i)].Value;
}

void TCustomNativeComponent::Setpt_Value(const std::u16string& name, const Variant& value) {
  long i = pt_Find(name);
  if (i == -1) throw Error(ErrorKind::kNotFound, u"Свойство \"" + name + u"\" не существует.");
  auto& entry = properties_[static_cast<std::size_t>(i)];
  if (entry.isReadonly)
    throw Error(ErrorKind::kReadOnly, u"Свойство \"" + name + u"\" запрещено к изменению.");
  entry.Value = value;
}

void TCustomNativeComponent::Setpt_ValueDirect(const std::u16string& name, const Variant& value) {
  long i = pt_Find(name);
  if (i == -1) throw Error(ErrorKind::kNotFound, u"Свойство \"" + name + u"\" не существует.");
  properties_[static_cast<std::size_t>(i)].Value = value;
}

// ---- host-facing operations ----
// Every entry the host can reach catches everything: an exception crossing into the host
// would take the host process down.

WCHAR_T* TCustomNativeComponent::NewHostString(const std::u16string& text) noexcept {
  try {
    WCHAR_T* out = nullptr;
    StrToWChar_T(memory_, text, out);
    return out;
  } catch (...) {
    return nullptr;
  }
}

void TCustomNativeComponent::ReportToHost(const std::u16string& source,
                                          const std::u16string& message, HostLong code) {
  try {
    ScopedHostString src(memory_, source);
    ScopedHostString msg(memory_, message);
    if (connection_.present()) connection_.AddError(kAddErrorCode, src.get(), msg.get(), code);
  } catch (...) {
  }
}

bool TCustomNativeComponent::Init(void* connection) {
  connection_ = HostConnection(connection);
  try {
    OnInit();
    return true;
  } catch (...) {
    ReportToHost(u"Init", CurrentErrorText(), 1000);
    return false;
  }
}

bool TCustomNativeComponent::setMemManager(void* memory) {
  memory_ = HostMemory(memory);
  return true;
}

HostLong TCustomNativeComponent::GetInfo() {
  return 2000;
}

void TCustomNativeComponent::Done() {
  try {
    mt_Clear();
    OnDone();
  } catch (...) {
  }
}

bool TCustomNativeComponent::RegisterExtensionAs(WCHAR_T** name) {
  if (!name) return false;
  *name = nullptr;
  try {
    *name = NewHostString(ClassName());
    return *name != nullptr;
  } catch (...) {
    return false;
  }
}

HostLong TCustomNativeComponent::GetNProps() {
  return pt_Count();
}

HostLong TCustomNativeComponent::FindProp(const WCHAR_T* name) {
  try {
    return pt_Find(WChar_TToStr(name));
  } catch (...) {
    return -1;
  }
}

const WCHAR_T* TCustomNativeComponent::GetPropName(HostLong num, HostLong alias) {
  try {
    TProperty p = pt_Get(static_cast<long>(num));
    return NewHostString(alias == 0 ? p.PropertyName1 : alias == 1 ? p.PropertyName2 : u"");
  } catch (...) {
    return nullptr;
  }
}

bool TCustomNativeComponent::GetPropValue(HostLong num, TVariant* value) {
  if (!value) return false;
  try {
    VariantToTVariant(memory_, pt_Get(static_cast<long>(num)).Value, *value);
    return true;
  } catch (...) {
    return false;
  }
}

bool TCustomNativeComponent::SetPropValue(HostLong, TVariant*) {
  return true;
}

bool TCustomNativeComponent::IsPropReadable(HostLong) {
  return true;
}

bool TCustomNativeComponent::IsPropWritable(HostLong num) {
  try {
    return !pt_Get(static_cast<long>(num)).isReadonly;
  } catch (...) {
    return false;
  }
}

HostLong TCustomNativeComponent::GetNMethods() {
  return mt_Count();
}

HostLong TCustomNativeComponent::FindMethod(const WCHAR_T* name) {
  try {
    return mt_Find(WChar_TToStr(name));
  } catch (...) {
    return -1;
  }
}

std::u16string TCustomNativeComponent::MethodNameText(long index, long alias) {
  if (index >= kExtraMethodBase) return GetExtraMethodName(index - kExtraMethodBase, alias);
  TMethod m = mt_Get(index);
  return alias == 0 ? m.MethodName1 : alias == 1 ? m.MethodName2 : u"";
}

const WCHAR_T* TCustomNativeComponent::GetMethodName(HostLong num, HostLong alias) {
  try {
    return NewHostString(MethodNameText(static_cast<long>(num), static_cast<long>(alias)));
  } catch (...) {
    return nullptr;
  }
}

HostLong TCustomNativeComponent::GetNParams(HostLong num) {
  try {
    if (num >= kExtraMethodBase) return GetExtraNParams(static_cast<long>(num - kExtraMethodBase));
    return mt_Get(static_cast<long>(num)).ParamsCount;
  } catch (...) {
    return 0;
  }
}

bool TCustomNativeComponent::GetParamDefValue(HostLong, HostLong, TVariant* value) {
  if (value) value->vt = VTYPE_EMPTY;
  return false;
}

bool TCustomNativeComponent::HasRetVal(HostLong) {
  return true;
}

VarArrayData TCustomNativeComponent::ArgumentsFromHost(const TVariant* params, HostLong size) {
  VarArrayData args;
  args.reserve(size > 0 ? static_cast<std::size_t>(size) : 0);
  for (HostLong i = 0; i < size; ++i) args.push_back(TVariantToVariant(params[i]));
  return args;
}

void TCustomNativeComponent::ArgumentsToHost(const VarArrayData& args, TVariant* params,
                                             HostLong size) {
  for (HostLong i = 0; i < size && static_cast<std::size_t>(i) < args.size(); ++i) {
    VariantToTVariant(memory_, args[static_cast<std::size_t>(i)], params[i]);
  }
}

bool TCustomNativeComponent::FailCallAsFunc(HostLong num, const std::u16string& message) {
  try {
    std::u16string name;
    try {
      name = MethodNameText(static_cast<long>(num), 1);
    } catch (...) {
    }
    Setpt_ValueDirect(kLastErrorNameEn, Variant::String(u"Function " + name + u" - " + message));
  } catch (...) {
  }
  ReportToHost(u"", message, 1000);
  return false;
}

bool TCustomNativeComponent::CallAsFunc(HostLong num, TVariant* ret, TVariant* params,
                                        HostLong size) {
  try {
    Setpt_ValueDirect(kLastErrorNameEn, Variant::String(u""));
  } catch (...) {
  }
  try {
    VarArrayData args = ArgumentsFromHost(params, size);
    TraceCall(num, args);
    Variant result = mt_Call(static_cast<long>(num), args);
    if (ret) {
      VariantToTVariant(memory_, result, *ret);
    } else {
      result = Variant();  // dropped: the exit trace shows no result
    }
    TraceResult(num, result, args);
    ArgumentsToHost(args, params, size);
    return true;
  } catch (...) {
    return FailCallAsFunc(num, CurrentErrorText());
  }
}

bool TCustomNativeComponent::CallAsProc(HostLong num, TVariant* params, HostLong size) {
  try {
    VarArrayData args = ArgumentsFromHost(params, size);
    mt_Call(static_cast<long>(num), args);
    ArgumentsToHost(args, params, size);
    return true;
  } catch (...) {
    std::u16string message = CurrentErrorText();
    std::u16string source;
    try {
      source = mt_Get(static_cast<long>(num)).MethodName1;
    } catch (...) {
    }
    ReportToHost(source, message, 1);
    return false;
  }
}

void TCustomNativeComponent::SetLocale(const WCHAR_T* locale) {
  (void)WChar_TToStr(locale);
}

void* TCustomNativeComponent::GetNativeComponentObjectHeader() {
  return BuildObjectHeader(this);
}

}  // namespace velquora::addin
