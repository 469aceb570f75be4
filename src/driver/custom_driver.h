#pragma once
// The first driver class: the last result, error capture, the handler frame and the typed
// settings getters.
#include <functional>

#include "addin/ext_native_component.h"
#include "driver/equipment_error.h"

namespace velquora::driver {

class TCustomDriver : public addin::TExtNativeComponent {
 public:
  const TResult& LastResult() const { return FLastResult; }

  addin::Variant GetSettingValue(const std::u16string& id);
  bool GetSettingValueBool(const std::u16string& id);
  std::int32_t GetSettingValueInt(const std::u16string& id);
  std::int64_t GetSettingValueCurr(const std::u16string& id);
  double GetSettingValueDbl(const std::u16string& id);
  double GetSettingValueDate(const std::u16string& id);
  std::u16string GetSettingValueStr(const std::u16string& id);

 protected:
  // Records a failure: the last result 1001 with the text, then one ERROR record "Exception".
  void CaptureError(const std::u16string& message);
  // The handler frame: true when `work` completes, otherwise the failure is captured and false.
  addin::Variant HandlerFrame(const std::function<void()>& work);
  // GetLastError's handler: the text into the first parameter, the code as the result.
  addin::Variant GetLastErrorHandler(addin::VarArrayData& params);

  TResult FLastResult;
};

}  // namespace velquora::driver
