// The in-process emulator's own housekeeping (the emulator runs on the build machine only).
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "protocol/scale_link.h"
#include "protocol/wire_format.h"
#include "scale_emulator.h"
#include "support/test_helpers.h"

namespace velquora::protocol {
namespace {

TEST(ScaleEmulator, FinishedConnectionThreadsAreJoined) {
  emulator::ScaleEmulator scale;
  scale.Start();
  test::NoLog no_log;
  ScaleLink link(no_log);
  const std::size_t kConnections = 300;
  for (std::size_t i = 0; i < kConnections; ++i) {
    link.Connect(u"127.0.0.1", scale.port());
    if (i % 50 == 0) link.Run(TableClear(kTablePlu));  // some of them also exchange a frame
    link.Close();
  }
  // Each connection's thread ends once the client has gone; the scale joins it soon after
  // (unjoined, their stacks pile up until no thread can be started any more).
  for (int wait = 0; wait < 500; ++wait) {
    if (scale.connections() == kConnections && scale.worker_threads() == 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(scale.connections(), kConnections);
  EXPECT_EQ(scale.worker_threads(), 0u) << "threads of finished connections are kept";
}

}  // namespace
}  // namespace velquora::protocol
