#pragma once
namespace velquora::platform {

struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() = 0;
};

Clock& SystemClock();

}  // namespace velquora::platform
