// Runs the driver library's load and unload steps when the host loads and unloads it.
#include "driver/driver_library.h"

namespace velquora::driver {
namespace {

struct DriverUnit {
  DriverUnit() { LoadDriverLibrary(); }
  ~DriverUnit() { UnloadDriverLibrary(); }
};

DriverUnit g_unit;

}  // namespace
}  // namespace velquora::driver
