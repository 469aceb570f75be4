#pragma once
// Components whose host calls are traced: an entry and an exit line at DEBUG for every call
// made as a function (CallAsFunc); calls as procedures are not traced.
#include "addin/native_component.h"

namespace velquora::addin {

class TExtNativeComponent : public TNativeComponent {
 public:
  // "[" + the elements' text forms joined by "; " + "]".
  static std::u16string ArgumentListText(const VarArrayData& args);

 protected:
  void TraceCall(HostLong num, const VarArrayData& args) override;
  void TraceResult(HostLong num, const Variant& result, const VarArrayData& args) override;
  void LogMethodCall(const std::u16string& name, const VarArrayData& args);
  void LogMethodResult(const std::u16string& name, const Variant& result, const VarArrayData& args);
};

}  // namespace velquora::addin
