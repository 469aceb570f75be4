// The driver's system-settings operation, which the host's method table does not offer.
#include <gtest/gtest.h>

#include "driver/scale_driver.h"

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
  TDriver driver;
  driver.AfterConstruction();
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(driver.LastResult().ErrorCode,
            1001);  // not open (its text is the library's string resource)
  EXPECT_EQ(scale.connections(), 0u);

  driver.Setpt_Value(u"IPAddress", Variant::String(u"127.0.0.1"));
  driver.Setpt_Value(u"IPPort", Variant::Int(scale.port()));
  driver.Open();
  ASSERT_TRUE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(scale.Dump()["system"],
            nlohmann::json::parse(R"({"date_ddmmyy":"170524","time_hhmm":"1030"})"));

  EXPECT_FALSE(driver.UploadSystemSettings(u"<Table DateTime=\"2024-05-17T10:30:00\"/>"));
  EXPECT_EQ(driver.LastResult().ErrorDescription, u"Не найден корневой узел");
  std::size_t frames = scale.Frames().size();
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings DateTime=\"2024-05-17\"/>"));
  EXPECT_EQ(driver.LastResult().ErrorDescription, u"Некорректная системная дата");
  EXPECT_FALSE(driver.UploadSystemSettings(u"<SystemSettings/>"));
  EXPECT_EQ(scale.Frames().size(), frames);
  driver.BeforeDestruction();
}

}  // namespace
}  // namespace velquora::driver
