#pragma once
// Where a part of the library writes its diagnostic records. The parts are given a sink and
// never reach for a log of their own; the library's entry decides which log stands behind it.
#include <string_view>

namespace velquora {

enum class LogLevel { kInfo, kDebug, kError };

class LogSink {
 public:
  virtual ~LogSink() = default;
  // Whether a record of `level` would be written now: callers skip forming long texts (a
  // goods document can be megabytes) when it would not.
  virtual bool Enabled(LogLevel level) const = 0;
  // Never throws: a record that cannot be written is dropped.
  virtual void Write(std::u16string_view caption, std::u16string_view text, LogLevel level) = 0;
};

}  // namespace velquora
