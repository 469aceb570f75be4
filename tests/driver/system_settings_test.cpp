// The driver's system-settings operation, which the host's method table does not offer.
#include <gtest/gtest.h>

#include "driver/scale_driver.h"
#include "log/log_writer.h"
#include "platform/clock.h"
#include "platform/file_system.h"

#if defined(_WIN32)
// Windows builds run under wine; the emulator is a Linux program reached over 127.0.0.1.
#include "e2e/remote_scale.h"
#else
#include "scale_emulator.h"
#endif

namespace velquora::driver {
namespace {

#if defined(_WIN32)
using Scale = e2e::RemoteScale;
#else
using Scale = emulator::ScaleEmulator;
#endif

using addin::Variant;

TEST(SystemSettings, SetsTheScalesDateAndTime) {
  Scale scale;
  scale.Start();
  log::LogWriter log(platform::RealFileSystem(), platform::SystemClock(),
                     [] { return std::string(); });
  ScaleDriver driver(log);
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(driver.last_result().code, 1001);
  EXPECT_EQ(driver.last_result().text, u"Устройство не включено");
  EXPECT_EQ(scale.connections(), 0u);

  driver.properties().Set(u"IPAddress", Variant::String(u"127.0.0.1"));
  driver.properties().Set(u"IPPort", Variant::Int(scale.port()));
  const long open = driver.methods().Find(u"Open");
  addin::Arguments args{Variant()};
  ASSERT_TRUE(driver.methods().At(open).handler(args).bool_value());
  ASSERT_TRUE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(scale.Dump()["system"],
            nlohmann::json::parse(R"({"date_ddmmyy":"170524","time_hhmm":"1030"})"));

  EXPECT_FALSE(driver.UploadSystemSettings(u"<Table DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(driver.last_result().text, u"Не найден корневой узел");
  std::size_t frames = scale.Frames().size();
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17\"/>"));
  EXPECT_EQ(driver.last_result().text, u"Некорректная системная дата");
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings/>"));
  EXPECT_EQ(scale.Frames().size(), frames);
}

}  // namespace
}  // namespace velquora::driver
