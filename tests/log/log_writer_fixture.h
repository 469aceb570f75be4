#pragma once
// The log writer against real files in a temporary folder, with a clock the test sets.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log_writer.h"
#include "platform/system_info.h"
#include "support/temp_dir.h"

namespace velquora::log {

class FixedClock : public platform::Clock {
 public:
  platform::LocalTime now{2024, 3, 5, 14, 7, 9, 42};
  platform::LocalTime Now() override { return now; }
};

class LogWriterTest : public ::testing::Test {
 protected:
  // The temporary folder plays the machine-wide folder: log folders in it are shared.
  LogWriterTest()
      : writer_(
            platform::RealFileSystem(), clock_, [this] { return dir_.path(); },
            [this] { return dir_.path(); }) {
    writer_.SetLogFolder(dir_ / "logs");
    writer_.SetLogFileName("192_168_0_10");
  }
  // A log file as the writer names it: the folder as set, then the system's separator.
  std::string File(const std::string& name = "192_168_0_10_2024.03.05.log") {
    return dir_ / "logs" + platform::kPathSeparator + name;
  }
  std::vector<std::string> Lines(const std::string& path) {
    std::vector<std::string> out;
    std::string text = test::ReadText(path);
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find("\r\n", at);
      out.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    return out;
  }

  test::TempDir dir_;
  FixedClock clock_;
  LogWriter writer_;
};

}  // namespace velquora::log
