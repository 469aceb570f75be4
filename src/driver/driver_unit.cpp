// The driver library's load and unload steps.
#include "addin/class_registry.h"
#include "common/text.h"
#include "driver/scale_driver.h"
#include "driver/utilities.h"
#include "log/log_writer.h"
#include "platform/resources.h"
#include "platform/system_info.h"

namespace velquora::driver {
namespace {

struct DriverUnit {
  DriverUnit() {
    try {
      std::string app_data = GetSpecialFolder(FolderId::CommonAppData);
      app_data.pop_back();
      const char sep = platform::kPathSeparator;
      log::LogWriter::Instance().SetLogFolder(app_data + sep + log::kLogCompanyName + sep +
                                              ToUtf8(kDriverName));
      GetDriverInfo<TDriver>(kDriverName, platform::LoadResourceString(65111));
      addin::RegisterComponentClass(addin::ClassOf<TDriver>());
    } catch (...) {
      // A library that cannot register offers no classes; the host sees an empty list.
    }
  }
  ~DriverUnit() {
    addin::ClearComponentClasses();
    try {
      log::LogWriter::Instance().WriteLogFooter();
    } catch (...) {
    }
  }
};

DriverUnit g_unit;

}  // namespace
}  // namespace velquora::driver
