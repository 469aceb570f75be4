#pragma once
// The driver component the library offers the host: networked label-printing scales. Its host
// methods are one table of rows (scale_driver.cpp); what it shares with other drivers of the
// library is free helpers (equipment.h).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "addin/component.h"
#include "driver/equipment.h"
#include "driver/host_document.h"
#include "driver/upload_progress.h"
#include "log/log_writer.h"
#include "protocol/scale_link.h"

namespace velquora::driver {

inline constexpr char16_t kDriverName[] = u"w_velquora";
inline constexpr char16_t kDriverDescription[] =
    u"Драйвер сетевых весов с печатью этикеток (Native API)";

inline constexpr DriverInfo kScaleDriverInfo = {kDriverName,
                                                kDriverDescription,
                                                EquipmentType::kPrintingScale,
                                                /*integration_component=*/false,
                                                /*main_driver_installed=*/false,
                                                kDownloadUrl};

class ScaleDriver final : public addin::Component {
 public:
  // `log`: the library's log, which the driver names after the scale and switches at Open, and
  // which receives its records, its call trace and the exchange log.
  explicit ScaleDriver(log::LogWriter& log, std::unique_ptr<protocol::TcpClient> client =
                                                std::make_unique<protocol::TcpClient>());

  // Sets the scale's date and time from <SystemSettings DateTime="..."/>; not in the method
  // table, so the host cannot call it. True on success, as the host methods answer.
  bool UploadSystemSettings(const std::u16string& document);

  const LastResult& last_result() const { return last_result_; }

  // The log file name part derived from an address: dots become "_", and only letters,
  // digits, "-" and "_" are kept.
  static std::string LogNameFromAddress(const std::u16string& address);

 private:
  struct MethodRow;
  static const MethodRow kMethodRows[];

  // The host methods, one per row.
  addin::Variant GetInterfaceRevision(addin::Arguments& args);
  addin::Variant GetDescription(addin::Arguments& args);
  addin::Variant GetLastError(addin::Arguments& args);
  addin::Variant Open(addin::Arguments& args);
  addin::Variant Close(addin::Arguments& args);
  addin::Variant GetParameters(addin::Arguments& args);
  addin::Variant SetParameter(addin::Arguments& args);
  addin::Variant DeviceTest(addin::Arguments& args);
  addin::Variant GetAdditionalActions(addin::Arguments& args);
  addin::Variant DoAdditionalAction(addin::Arguments& args);
  addin::Variant UploadGoods(addin::Arguments& args);
  addin::Variant UploadGroups(addin::Arguments& args);
  addin::Variant UploadShops(addin::Arguments& args);
  addin::Variant ClearGoods(addin::Arguments& args);
  addin::Variant ClearGroups(addin::Arguments& args);
  addin::Variant DeleteGood(addin::Arguments& args);
  addin::Variant DeleteGroup(addin::Arguments& args);
  addin::Variant UploadData(addin::Arguments& args);

  // Inside the handler frame.
  addin::Variant Framed(const std::function<void()>& work);
  // A scale method: inside the handler frame, the open check, then `work`.
  addin::Variant ScaleMethod(const std::function<void()>& work);
  void OpenDriver();
  void CloseDriver();
  // Closes and opens the connection to the address configured now.
  void Reconnect();
  addin::Variant Setting(std::u16string_view name);
  // A document upload: every "Record" child of the top-level "Table" is read, checked and
  // encoded by `prepare` before anything is sent, so a document with a bad record leaves the
  // scale as it was; a bad record fails with its location (its number, line, the code named
  // by `code`, the attribute at fault and its value). Then connects and sends the frames made.
  void UploadDocument(const std::u16string& text, const char16_t* what, HostAttr code,
                      const std::function<protocol::Command(const HostRecord&)>& prepare);
  // Sends the frames overlapped, one in flight; a failure says how many the scale accepted.
  void SendRecords(const protocol::FrameList& frames, const char16_t* what);
  UploadProgress::Sink StatusLine();
  void SendData(const std::u16string& file_name, const std::u16string& data);
  std::int64_t RecordNumberArgument(const addin::Variant& value, const char* message);

  log::LogWriter& log_;
  LastResult last_result_;
  bool open_ = false;
  protocol::ScaleLink link_;
  protocol::LabelSettings label_;
};

}  // namespace velquora::driver
