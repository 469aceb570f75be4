#pragma once
// The component the host creates: its method and property tables, the operations the host
// reaches through the entry tables (named as the host's interface names them), the calls it
// makes on the host's services, and the tracing of calls made as functions.
#include <string>
#include <string_view>

#include "addin/host_abi.h"
#include "addin/host_objects.h"
#include "addin/method_table.h"
#include "addin/property_table.h"
#include "addin/variant.h"
#include "common/log_sink.h"

namespace velquora::addin {

inline constexpr char16_t kLastErrorNameRu[] = u"ОписаниеПоследнейОшибки";
inline constexpr char16_t kLastErrorNameEn[] = u"LastErrorDescription";

class Component {
 public:
  // `class_name`: what RegisterExtensionAs answers. `trace`: where calls made as functions are
  // traced, an entry and an exit record at DEBUG each (calls as procedures are not); null: not
  // traced. The first property is the read-only error text of the last failed call.
  Component(std::u16string class_name, LogSink* trace);
  virtual ~Component();
  Component(const Component&) = delete;
  Component& operator=(const Component&) = delete;

  MethodTable& methods() { return methods_; }
  const MethodTable& methods() const { return methods_; }
  PropertyTable& properties() { return properties_; }
  const PropertyTable& properties() const { return properties_; }

  // Host-facing operations, in entry-table order. None of them throws.
  bool Init(void* connection);
  bool setMemManager(void* memory);
  HostLong GetInfo();
  void Done();
  bool RegisterExtensionAs(WCHAR_T** name);
  HostLong GetNProps();
  HostLong FindProp(const WCHAR_T* name);
  const WCHAR_T* GetPropName(HostLong num, HostLong alias);
  bool GetPropValue(HostLong num, TVariant* value);
  bool SetPropValue(HostLong num, TVariant* value);
  bool IsPropReadable(HostLong num);
  bool IsPropWritable(HostLong num);
  HostLong GetNMethods();
  HostLong FindMethod(const WCHAR_T* name);
  const WCHAR_T* GetMethodName(HostLong num, HostLong alias);
  HostLong GetNParams(HostLong num);
  bool GetParamDefValue(HostLong num, HostLong param, TVariant* value);
  bool HasRetVal(HostLong num);
  bool CallAsProc(HostLong num, TVariant* params, HostLong size);
  bool CallAsFunc(HostLong num, TVariant* ret, TVariant* params, HostLong size);
  void SetLocale(const WCHAR_T* locale);

  // The host-facing object for this component (built by hand, see object_header.h).
  void* NewObjectHeader();

  // The host's services, through its connection; without a connection they do nothing.
  bool ExternalEvent(std::u16string_view source, std::u16string_view message,
                     std::u16string_view data);
  HostLong GetEventBufferDepth();
  bool SetStatusLine(std::u16string_view text);
  void ResetStatusLine();

  // Zero-filled texts from the host's memory manager, for the host's services: (length + 2) * 2
  // bytes for UTF-8 text, (length + 1) * 2 for UTF-16 text. Fail with std::bad_alloc.
  WCHAR_T* CopyToHost(std::string_view utf8);
  WCHAR_T* CopyToHost(std::u16string_view text);
  void FreeOnHost(WCHAR_T* text);

 private:
  // Reports a failed call to the host: AddError(1006, source, message, code); never throws.
  void ReportToHost(const std::u16string& source, const std::u16string& message, HostLong code);
  // A host string made for the host to keep (names), or null when it cannot be made.
  WCHAR_T* NewHostString(const std::u16string& text) noexcept;
  Arguments ArgumentsFromHost(const TVariant* params, HostLong size);
  void ArgumentsToHost(const Arguments& args, TVariant* params, HostLong size);
  // The entry and exit records of a call made as a function, under the method's English name.
  void TraceCall(HostLong num, const Arguments& args);
  void TraceResult(HostLong num, const Variant& result, const Arguments& args);
  bool Tracing() const;
  // The failure steps of CallAsFunc; never throw.
  bool FailCallAsFunc(HostLong num, const std::u16string& message);
  WCHAR_T* AllocZeroed(std::size_t bytes, std::u16string_view text);

  std::u16string class_name_;
  LogSink* trace_;
  MethodTable methods_;
  PropertyTable properties_;
  HostMemory memory_;
  HostConnection connection_;
};

}  // namespace velquora::addin
