#pragma once
// The real driver library loaded through the host kit, talking to an in-process emulator.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "addin_library.h"
#include "common/text.h"

#if defined(_WIN32)
// Windows builds run under wine; the emulator is a Linux program reached over 127.0.0.1.
#include "e2e/remote_scale.h"
namespace velquora::e2e {
using Scale = RemoteScale;
}
#else
#include "scale_emulator.h"
namespace velquora::e2e {
using Scale = emulator::ScaleEmulator;
}
#endif

namespace velquora::e2e {

using host::CallResult;
using host::Component;
using host::Value;

class DriverTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lib_ = new host::AddinLibrary(VELQUORA_BIN_DIR "/" VELQUORA_DRIVER_FILE);
  }
  static void TearDownTestSuite() { delete lib_; }

  // `address` lets tests that read the log use a file of their own (127.0.0.x).
  void StartScale(const std::string& address = "127.0.0.1") {
    scale_ = std::make_unique<Scale>(address);
    scale_->Start();
    Set(u"IPAddress", ToUtf16(address));
    Set(u"IPPort", std::int32_t{scale_->port()});
  }
  void SetUp() override {
    d_ = std::make_unique<Component>(*lib_, u"w_velquora");
    StartScale();
  }
  // Destroying the component must leave no host block alive and free nothing twice.
  void TearDown() override {
    if (!d_) return;  // the test destroyed it itself
    d_->Destroy();
    EXPECT_EQ(d_->memory().live_blocks(), 0u);
    EXPECT_TRUE(d_->memory().faults().empty());
    EXPECT_GT(d_->memory().allocations(), 0u);
    d_.reset();
  }

  void Set(const std::u16string& name, Value v) {
    ASSERT_TRUE(Ok(d_->Call(u"SetParameter", {name, std::move(v)}))) << ToUtf8(name);
  }
  static bool Ok(const CallResult& r) { return r.ok && r.result == Value(true); }
  bool Call(const std::u16string& method, std::vector<Value> args = {}) {
    return Ok(d_->Call(method, std::move(args)));
  }
  bool Open() { return Call(u"Open", {std::u16string()}); }
  bool Goods(const std::u16string& doc) {
    return Call(u"UploadGoods", {std::u16string(), doc, std::u16string()});
  }
  std::u16string Error() {
    CallResult r = d_->Call(u"GetLastError", {std::u16string()});
    return std::get<std::u16string>(r.args[0]);
  }
  std::string ErrorUtf8() { return ToUtf8(Error()); }
  std::u16string Out(const std::u16string& method) {
    CallResult r = d_->Call(method, {std::u16string()});
    EXPECT_TRUE(Ok(r));
    return std::get<std::u16string>(r.args[0]);
  }
  // Connections the scale has accepted, once accepting has settled (accepts run on their own
  // thread).
  std::size_t Connections() {
    std::size_t last = scale_->connections();
    for (int quiet = 0; quiet < 3;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::size_t now = scale_->connections();
      quiet = now == last ? quiet + 1 : 0;
      last = now;
    }
    return last;
  }
  nlohmann::json Plu() { return scale_->Dump().value("plu", nlohmann::json::array()); }

  static host::AddinLibrary* lib_;
  std::unique_ptr<Component> d_;
  std::unique_ptr<Scale> scale_;
};

}  // namespace velquora::e2e
