#pragma once
// The process-wide driver information from which the description document is built.
#include <mutex>
#include <string>

#include "driver/utilities.h"

namespace velquora::driver {

struct TDriverInfo {
  std::u16string Name;
  std::u16string Description;
  TEquipmentType EquipmentType = TEquipmentType::etUnknown;
  bool IntegrationComponent = false;
  bool MainDriverInstalled = false;
  std::u16string DriverVersion;
  std::u16string IntegrationComponentVersion;
  std::u16string DownloadURL;
  bool LogIsEnabled = false;
  std::u16string LogPath;

  void Clear() {
    EquipmentType = TEquipmentType::etUnknown;
    IntegrationComponent = MainDriverInstalled = LogIsEnabled = false;
    DownloadURL.clear();
  }
};

// The one record of the process, with the lock that guards it.
TDriverInfo& DriverInfo();
std::mutex& DriverInfoMutex();

// The driver's display name.
inline constexpr char16_t kDriverDescription[] =
    u"Драйвер сетевых весов с печатью этикеток (Native API)";

// The maker's web address reported as DownloadURL.
inline constexpr char16_t kDownloadUrl[] = u"https://korvanta.example/drivers/w_velquora";

}  // namespace velquora::driver
