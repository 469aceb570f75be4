#include "addin/component.h"

#include <cstring>
#include <new>

#include "addin/host_strings.h"
#include "addin/object_header.h"
#include "addin/value_conversion.h"
#include "common/error.h"
#include "common/text.h"

namespace velquora::addin {
namespace {

constexpr unsigned short kAddErrorCode = 1006;

// "[" + the elements' text forms joined by "; " + "]", as the call trace shows arguments.
std::u16string ArgumentListText(const Arguments& args) {
  std::u16string text = u"[";
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i) text += u"; ";
    text += args[i].ToText();
  }
  return text + u"]";
}

// Runs `call` with a host string that is freed afterwards, also when the call throws.
template <typename F>
auto WithHostString(Component& c, std::u16string_view text, F call) {
  struct Guard {
    Component& c;
    WCHAR_T* s;
    ~Guard() { c.FreeOnHost(s); }
  } guard{c, c.CopyToHost(text)};
  return call(guard.s);
}

}  // namespace

Component::Component(std::u16string class_name, LogSink* trace)
    : class_name_(std::move(class_name)), trace_(trace) {
  properties_.Add(kLastErrorNameRu, kLastErrorNameEn, true, Variant::String(u""));
}

Component::~Component() = default;

// ---- host-facing operations ----
// Every entry the host can reach catches everything: an exception crossing into the host
// would take the host process down.

WCHAR_T* Component::NewHostString(const std::u16string& text) noexcept {
  try {
    WCHAR_T* out = nullptr;
    CopyHostString(memory_, text, out);
    return out;
  } catch (...) {
    return nullptr;
  }
}

void Component::ReportToHost(const std::u16string& source, const std::u16string& message,
                             HostLong code) {
  try {
    ScopedHostString src(memory_, source);
    ScopedHostString msg(memory_, message);
    if (connection_.present()) connection_.AddError(kAddErrorCode, src.get(), msg.get(), code);
  } catch (...) {
  }
}

bool Component::Init(void* connection) {
  connection_ = HostConnection(connection);
  return true;
}

bool Component::setMemManager(void* memory) {
  memory_ = HostMemory(memory);
  return true;
}

HostLong Component::GetInfo() {
  return 2000;
}

void Component::Done() {
  methods_.Clear();
}

bool Component::RegisterExtensionAs(WCHAR_T** name) {
  if (!name) return false;
  *name = NewHostString(class_name_);
  return *name != nullptr;
}

HostLong Component::GetNProps() {
  return properties_.Count();
}

HostLong Component::FindProp(const WCHAR_T* name) {
  try {
    return properties_.Find(FromHostString(name));
  } catch (...) {
    return -1;
  }
}

const WCHAR_T* Component::GetPropName(HostLong num, HostLong alias) {
  try {
    const Property& p = properties_.At(static_cast<long>(num));
    return NewHostString(alias == 0 ? p.name_ru : alias == 1 ? p.name_en : u"");
  } catch (...) {
    return nullptr;
  }
}

bool Component::GetPropValue(HostLong num, TVariant* value) {
  if (!value) return false;
  try {
    ToHostValue(memory_, properties_.At(static_cast<long>(num)).value, *value);
    return true;
  } catch (...) {
    return false;
  }
}

bool Component::SetPropValue(HostLong, TVariant*) {
  return true;
}

bool Component::IsPropReadable(HostLong) {
  return true;
}

bool Component::IsPropWritable(HostLong num) {
  try {
    return !properties_.At(static_cast<long>(num)).read_only;
  } catch (...) {
    return false;
  }
}

HostLong Component::GetNMethods() {
  return methods_.Count();
}

HostLong Component::FindMethod(const WCHAR_T* name) {
  try {
    return methods_.Find(FromHostString(name));
  } catch (...) {
    return -1;
  }
}

const WCHAR_T* Component::GetMethodName(HostLong num, HostLong alias) {
  try {
    return NewHostString(methods_.Name(static_cast<long>(num), static_cast<long>(alias)));
  } catch (...) {
    return nullptr;
  }
}

HostLong Component::GetNParams(HostLong num) {
  try {
    return methods_.At(static_cast<long>(num)).params;
  } catch (...) {
    return 0;
  }
}

bool Component::GetParamDefValue(HostLong, HostLong, TVariant* value) {
  if (value) value->vt = VTYPE_EMPTY;
  return false;
}

bool Component::HasRetVal(HostLong) {
  return true;
}

Arguments Component::ArgumentsFromHost(const TVariant* params, HostLong size) {
  Arguments args;
  args.reserve(size > 0 ? static_cast<std::size_t>(size) : 0);
  for (HostLong i = 0; i < size; ++i) args.push_back(FromHostValue(params[i]));
  return args;
}

void Component::ArgumentsToHost(const Arguments& args, TVariant* params, HostLong size) {
  for (HostLong i = 0; i < size && static_cast<std::size_t>(i) < args.size(); ++i) {
    ToHostValue(memory_, args[static_cast<std::size_t>(i)], params[i]);
  }
}

// Trace records are DEBUG records: they are not formed (a goods document can be megabytes)
// when the log would drop them anyway.
bool Component::Tracing() const {
  return trace_ && trace_->Enabled(LogLevel::kDebug);
}

// Both records carry the method's English name, looked up again for each.
void Component::TraceCall(HostLong num, const Arguments& args) {
  std::u16string name = methods_.Name(static_cast<long>(num), 1);
  if (!Tracing()) return;
  trace_->Write(u"> " + name, u"Params: " + ArgumentListText(args), LogLevel::kDebug);
}

void Component::TraceResult(HostLong num, const Variant& result, const Arguments& args) {
  std::u16string name = methods_.Name(static_cast<long>(num), 1);
  if (!Tracing()) return;
  std::u16string text;
  if (result.IsBool())
    text = std::u16string(u"Result=") + (result.bool_value() ? u"True" : u"False");
  text += u"; Params: " + ArgumentListText(args);
  trace_->Write(u"< " + name, text, LogLevel::kDebug);
}

bool Component::FailCallAsFunc(HostLong num, const std::u16string& message) {
  try {
    std::u16string name;
    try {
      name = methods_.Name(static_cast<long>(num), 1);
    } catch (...) {
    }
    properties_.SetOwn(kLastErrorNameEn, Variant::String(u"Function " + name + u" - " + message));
  } catch (...) {
  }
  ReportToHost(u"", message, 1000);
  return false;
}

bool Component::CallAsFunc(HostLong num, TVariant* ret, TVariant* params, HostLong size) {
  try {
    properties_.SetOwn(kLastErrorNameEn, Variant::String(u""));
  } catch (...) {
  }
  bool result_written = false;
  try {
    Arguments args = ArgumentsFromHost(params, size);
    TraceCall(num, args);
    // A copy: the handler runs on even if the host empties the table meanwhile (Done).
    MethodHandler handler = methods_.At(static_cast<long>(num)).handler;
    Variant result = handler(args);
    if (ret) {
      ToHostValue(memory_, result, *ret);
      result_written = true;
    } else {
      result = Variant();  // dropped: the exit record shows no result
    }
    TraceResult(num, result, args);
    ArgumentsToHost(args, params, size);
    return true;
  } catch (...) {
    // A call that failed after its result was written (the host's memory ran out for an
    // argument going back) must not leave that result behind for the host to read as an answer.
    if (result_written) {
      try {
        ToHostValue(memory_, Variant(), *ret);
      } catch (...) {
      }
    }
    return FailCallAsFunc(num, CurrentErrorText());
  }
}

bool Component::CallAsProc(HostLong num, TVariant* params, HostLong size) {
  try {
    Arguments args = ArgumentsFromHost(params, size);
    MethodHandler handler = methods_.At(static_cast<long>(num)).handler;
    handler(args);
    ArgumentsToHost(args, params, size);
    return true;
  } catch (...) {
    std::u16string message = CurrentErrorText();
    std::u16string source;
    try {
      source = methods_.Name(static_cast<long>(num), 0);
    } catch (...) {
    }
    ReportToHost(source, message, 1);
    return false;
  }
}

void Component::SetLocale(const WCHAR_T*) {}

void* Component::NewObjectHeader() {
  return BuildObjectHeader(this);
}

// ---- the host's services ----

WCHAR_T* Component::AllocZeroed(std::size_t bytes, std::u16string_view text) {
  void* block = memory_.Alloc(bytes);
  if (!block) throw std::bad_alloc();
  std::memset(block, 0, bytes);
  if (!text.empty()) std::memcpy(block, text.data(), text.size() * sizeof(WCHAR_T));
  return static_cast<WCHAR_T*>(block);
}

WCHAR_T* Component::CopyToHost(std::string_view utf8) {
  std::u16string text = ToUtf16(utf8);
  return AllocZeroed((text.size() + 2) * 2, text);
}

WCHAR_T* Component::CopyToHost(std::u16string_view text) {
  return AllocZeroed((text.size() + 1) * 2, text);
}

void Component::FreeOnHost(WCHAR_T* text) {
  memory_.Free(text);
}

bool Component::ExternalEvent(std::u16string_view source, std::u16string_view message,
                              std::u16string_view data) {
  if (!connection_.present()) return true;
  connection_.SetEventBufferDepth(100);
  WithHostString(*this, source, [&](WCHAR_T* s) {
    return WithHostString(*this, message, [&](WCHAR_T* m) {
      return WithHostString(*this, data,
                            [&](WCHAR_T* d) { return connection_.ExternalEvent(s, m, d); });
    });
  });
  return true;
}

HostLong Component::GetEventBufferDepth() {
  return connection_.present() ? connection_.GetEventBufferDepth() : 0;
}

bool Component::SetStatusLine(std::u16string_view text) {
  if (!connection_.present()) return true;
  WithHostString(*this, text, [&](WCHAR_T* t) { return connection_.SetStatusLine(t); });
  return true;
}

void Component::ResetStatusLine() {
  if (connection_.present()) connection_.ResetStatusLine();
}

}  // namespace velquora::addin
