#pragma once
// What the log writer could not write since its last written record, and why. A log that
// cannot be written must never fail or slow the host's call, so records are dropped, counted
// here, and reported in one line before the next record that does reach the file.
#include <array>
#include <cstddef>
#include <string>

#include "platform/file_system.h"

namespace velquora::log {

class DroppedRecords {
 public:
  // One record lost; `reason` is the failure's text (the last one of each kind is kept).
  void Count(platform::AppendStatus status, std::string reason);
  bool Any() const { return total_ != 0; }
  std::size_t Total() const { return total_; }
  // "3 records not written: 2 busy (Log file is busy "…"), 1 failed (Cannot …)".
  std::string Text() const;
  void Clear();

 private:
  struct Kind {
    std::size_t count = 0;
    std::string last_reason;
  };
  // busy, refused, failed
  std::array<Kind, 3> kinds_;
  std::size_t total_ = 0;
};

}  // namespace velquora::log
