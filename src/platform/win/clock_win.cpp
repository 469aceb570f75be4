#include "platform/clock.h"
#include "platform/win/win_text.h"

namespace velquora::platform {
namespace {

class WindowsClock final : public Clock {
 public:
  LocalTime Now() override {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
  }
};

}  // namespace

Clock& SystemClock() {
  static WindowsClock clock;
  return clock;
}

}  // namespace velquora::platform
