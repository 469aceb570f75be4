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

// Finds the log folder (creating it) and registers the driver's class.
void SetUp() {
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

void WriteFooter() {
  try {
    log::LogWriter::Instance().WriteLogFooter();
  } catch (...) {
  }
}

#if defined(_WIN32)
// Windows runs this under the loader lock: nothing here may touch files or folders, start
// threads or wait. The setup waits for the first exported call, the footer for the last
// DestroyObject.
struct DriverUnit {
  DriverUnit() { addin::DeferLibrarySteps(&SetUp, &WriteFooter); }
  ~DriverUnit() { addin::ClearComponentClasses(); }
};
#else
struct DriverUnit {
  DriverUnit() { SetUp(); }
  ~DriverUnit() {
    addin::ClearComponentClasses();
    WriteFooter();
  }
};
#endif

DriverUnit g_unit;

}  // namespace
}  // namespace velquora::driver
