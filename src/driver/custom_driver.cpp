#include "driver/custom_driver.h"

#include "driver/setting_conversion.h"
#include "log/log_writer.h"

namespace velquora::driver {

using addin::Variant;

void TCustomDriver::CaptureError(const std::u16string& message) {
  FLastResult.SetError(message, kErrorGeneral);
  log::LogWriter::Instance().Write(u"Exception", message, LogLevel::kError);
}

Variant TCustomDriver::HandlerFrame(const std::function<void()>& work) {
  try {
    work();
    return Variant::Bool(true);
  } catch (...) {
    CaptureError(CurrentErrorText());
    return Variant::Bool(false);
  }
}

Variant TCustomDriver::GetLastErrorHandler(addin::VarArrayData& params) {
  if (!params.empty()) params[0] = Variant::String(FLastResult.ErrorDescription);
  return Variant::Int(FLastResult.ErrorCode);
}

Variant TCustomDriver::GetSettingValue(const std::u16string& id) {
  try {
    return Getpt_Value(id);
  } catch (...) {
    CaptureError(CurrentErrorText());
    return {};
  }
}

bool TCustomDriver::GetSettingValueBool(const std::u16string& id) {
  return SettingToBool(GetSettingValue(id));
}
std::int32_t TCustomDriver::GetSettingValueInt(const std::u16string& id) {
  return SettingToInt(GetSettingValue(id));
}
std::int64_t TCustomDriver::GetSettingValueCurr(const std::u16string& id) {
  return SettingToCurr(GetSettingValue(id));
}
double TCustomDriver::GetSettingValueDbl(const std::u16string& id) {
  return SettingToDouble(GetSettingValue(id));
}
double TCustomDriver::GetSettingValueDate(const std::u16string& id) {
  return SettingToDouble(GetSettingValue(id));
}
std::u16string TCustomDriver::GetSettingValueStr(const std::u16string& id) {
  return SettingToStr(GetSettingValue(id));
}

}  // namespace velquora::driver
