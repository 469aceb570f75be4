#include "driver/driver_library.h"

#include "addin/class_registry.h"
#include "common/text.h"
#include "driver/scale_driver.h"
#include "driver/utilities.h"
#include "log/log_writer.h"
#include "platform/resources.h"
#include "platform/system_info.h"

namespace velquora::driver {

void LoadDriverLibrary() noexcept {
  try {
    auto& log = log::LogWriter::Instance();
    // Named after the driver until Open names the file after the scale, whatever fails below.
    log.SetLogFileName(ToUtf8(kDriverName));
    const std::string app_data = platform::DataFolder().value_or("");
    const char sep = platform::kPathSeparator;
    log.SetLogFolder(app_data + sep + log::kLogCompanyName + sep + ToUtf8(kDriverName));
    GetDriverInfo<TDriver>(kDriverName, kDriverDescription);
    addin::RegisterComponentClass(addin::ClassOf<TDriver>());
  } catch (...) {
  }
}

void UnloadDriverLibrary() noexcept {
  addin::ClearComponentClasses();
  try {
    log::LogWriter::Instance().WriteLogFooter();
  } catch (...) {
  }
}

}  // namespace velquora::driver
