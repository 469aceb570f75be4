// The driver library's own load and unload steps, run in this process.
#include <gtest/gtest.h>

#include "addin/class_registry.h"
#include "driver/driver_library.h"
#include "platform/system_info.h"

namespace velquora::driver {
namespace {

TEST(DriverLibrary, LoadNamesTheLogAfterTheDriverBeforeAnyOpen) {
  auto& log = LibraryLog();
  const std::string folder = log.LogFolder();
  log.SetLogFileName("");
  LoadDriverLibrary();
  EXPECT_EQ(log.LogFileName(), "w_velquora");
  EXPECT_NE(log.LogFilePath().find(platform::kPathSeparator + std::string("w_velquora_")),
            std::string::npos);
  UnloadDriverLibrary();
  log.SetLogFolder(folder);
  log.SetLogFileName("");
}

}  // namespace
}  // namespace velquora::driver
