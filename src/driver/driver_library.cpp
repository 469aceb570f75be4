#include "driver/driver_library.h"

#include <memory>

#include "addin/class_registry.h"
#include "common/text.h"
#include "driver/scale_driver.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/system_info.h"

namespace velquora::driver {
namespace {

std::unique_ptr<addin::Component> NewScaleDriver() {
  return std::make_unique<ScaleDriver>(LibraryLog());
}

}  // namespace

log::LogWriter& LibraryLog() {
  static log::LogWriter log(platform::RealFileSystem(), platform::SystemClock(),
                            &log::ApplicationDataFolder, &log::MachineWideFolder);
  return log;
}

void LoadDriverLibrary() noexcept {
  try {
    log::LogWriter& log = LibraryLog();
    // Named after the driver until Open names the file after the scale, whatever fails below.
    log.SetLogFileName(ToUtf8(kDriverName));
    const std::string app_data = platform::DataFolder().value_or("");
    const char sep = platform::kPathSeparator;
    log.SetLogFolder(app_data + sep + log::kLogCompanyName + sep + ToUtf8(kDriverName));
    addin::LibraryClasses().Add({kDriverName, &NewScaleDriver});
  } catch (...) {
  }
}

void UnloadDriverLibrary() noexcept {
  addin::LibraryClasses().Clear();
  try {
    LibraryLog().WriteLogFooter();
  } catch (...) {
  }
}

}  // namespace velquora::driver
