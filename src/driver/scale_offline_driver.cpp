#include "driver/scale_offline_driver.h"

#include "common/error.h"

namespace velquora::driver {

using addin::Variant;

void TScaleOfflineDriver::FillDriverInfo(TDriverInfo& info) {
  TCommonDriver::FillDriverInfo(info);
  info.EquipmentType = TEquipmentType::etPrintingScale;
  info.IntegrationComponent = false;
}

void TScaleOfflineDriver::UploadGoods(const HostDocument&, const std::u16string&) {
  throw Error(ErrorKind::kInternal,
              "Abstract error: UploadGoods is not implemented by this driver");
}

void TScaleOfflineDriver::ClearGoods() {
  throw Error(ErrorKind::kInternal, "Abstract error: ClearGoods is not implemented by this driver");
}

Variant TScaleOfflineDriver::UploadGoodsHandler(addin::VarArrayData& params) {
  return HandlerFrame([&] {
    UploadGoods(HostDocument::Parse(Param(params, 1).ToText()), Param(params, 2).ToText());
  });
}

Variant TScaleOfflineDriver::ClearGoodsHandler(addin::VarArrayData&) {
  return HandlerFrame([&] { ClearGoods(); });
}

}  // namespace velquora::driver
