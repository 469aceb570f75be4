#pragma once
// The driver component the library offers the host: networked label-printing scales.
#include <memory>

#include "driver/scale_offline_driver.h"
#include "driver/upload_progress.h"
#include "protocol/scale_link.h"

namespace velquora::driver {

inline constexpr char16_t kDriverName[] = u"w_velquora";

class TDriver : public TScaleOfflineDriver {
 public:
  explicit TDriver(
      std::unique_ptr<protocol::TcpClient> client = std::make_unique<protocol::TcpClient>());

  static std::u16string NCClassName() { return kDriverName; }
  std::u16string ClassName() const override { return NCClassName(); }
  std::u16string TypeName() const override { return u"TDriver"; }

  void RegisterMethods() override;
  void RegisterSettings() override;
  void Open() override;
  void Close() override;
  void DeviceTest(std::u16string& description, std::u16string& extra) override;

  addin::Variant UploadGoodsHandler(addin::VarArrayData& params) override;
  addin::Variant ClearGoodsHandler(addin::VarArrayData& params) override;

  // Sets the scale's date and time from <SystemSettings DateTime="..."/>; not in the method
  // table, so the host cannot call it. True on success, as the host methods answer.
  bool UploadSystemSettings(const std::u16string& document);

  // The time source of upload progress; the steady clock when empty (tests set their own).
  UploadProgress::Clock ProgressClock;

  // The log file name part derived from an address: dots become "_", and only letters,
  // digits, "-" and "_" are kept.
  static std::string LogNameFromAddress(const std::u16string& address);

 private:
  // Runs a scale method: enabled check, then `work`, inside the handler frame.
  addin::Variant ScaleMethod(const std::function<void()>& work);
  void Reconnect();
  using PrepareRecord = std::function<protocol::Command(const HostRecord&)>;
  void WriteRecords(const HostDocument& doc, const char16_t* what, const PrepareRecord& prepare);
  UploadProgress::Sink StatusLine();
  void UploadGoods(const HostDocument& doc);
  void UploadGroups(const HostDocument& doc);
  void UploadShops(const HostDocument& doc);
  void UploadData(const std::u16string& file_name, const std::u16string& data);
  std::int64_t RecordNumberArgument(const addin::Variant& value, const char* message);

  protocol::ScaleLink link_;
  protocol::LabelSettings label_;
};

}  // namespace velquora::driver
