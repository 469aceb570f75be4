#pragma once
// What a driver says of itself in its description document: constant for each driver class,
// the library's file version aside, which is read when the document is made.
#include <cstdint>
#include <string>

namespace velquora::driver {

// The kinds of equipment of the host's equipment interface, in the host's order.
enum class EquipmentType : std::uint8_t {
  kScanner,
  kMagneticCardReader,
  kFiscalRegistrar,
  kReceiptPrinter,
  kLabelPrinter,
  kCustomerDisplay,
  kDataCollectionTerminal,
  kAcquiringTerminal,
  kScale,
  kPrintingScale,
  kRfidReader,
  kCashRegister,
  kVideoCamera,
  kElectronicLock,
  kUnknown,
};

// The host's Russian name of an equipment type; fails with "Enum value unacceptable" for a
// number outside the enumeration.
std::u16string EquipmentTypeName(int type);

struct DriverInfo {
  const char16_t* name;
  const char16_t* description;  // the display name
  EquipmentType equipment_type;
  bool integration_component;
  bool main_driver_installed;
  const char16_t* download_url;
};

// The maker's web address reported as DownloadURL.
inline constexpr char16_t kDownloadUrl[] = u"https://korvanta.example/drivers/w_velquora";

// "major.minor.release.build" of the library this code is in; "0.0.0.0" without a version.
std::u16string LibraryVersionText();

}  // namespace velquora::driver
