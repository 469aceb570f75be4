#include "driver/driver_info.h"

namespace velquora::driver {

TDriverInfo& DriverInfo() {
  static TDriverInfo info;
  return info;
}

std::mutex& DriverInfoMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace velquora::driver
