#pragma once
// The driver type for offline label-printing scales.
#include "driver/common_driver.h"
#include "driver/host_document.h"

namespace velquora::driver {

class TScaleOfflineDriver : public TCommonDriver {
 public:
  static void FillDriverInfo(TDriverInfo& info);
  void UpdateDriverInfo(TDriverInfo& info) override { FillDriverInfo(info); }

  // The type's contract; a concrete driver provides them or replaces the handlers.
  virtual void UploadGoods(const HostDocument& goods, const std::u16string& package_status);
  virtual void ClearGoods();

  // Host-facing handlers (registered by the concrete driver from these slots).
  virtual addin::Variant UploadGoodsHandler(addin::VarArrayData& params);
  virtual addin::Variant ClearGoodsHandler(addin::VarArrayData& params);

  std::u16string TypeName() const override { return u"TScaleOfflineDriver"; }
};

}  // namespace velquora::driver
