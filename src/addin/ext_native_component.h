#pragma once
// Components whose host calls are traced: an entry and an exit line at DEBUG for every call.
#include "addin/native_component.h"

namespace velquora::addin {

class TExtNativeComponent : public TNativeComponent {
 public:
  bool CallAsFunc(HostLong num, TVariant* ret, TVariant* params, HostLong size) override;

  // "[" + the elements' text forms joined by "; " + "]".
  static std::u16string ArgumentListText(const VarArrayData& args);

 protected:
  void LogMethodCall(const std::u16string& name, const VarArrayData& args);
  void LogMethodResult(const std::u16string& name, const Variant& result, const VarArrayData& args);
};

}  // namespace velquora::addin
