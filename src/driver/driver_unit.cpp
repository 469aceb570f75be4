// Runs the driver library's load and unload steps when the host loads and unloads it.
#include "addin/class_registry.h"
#include "driver/driver_library.h"
#include "driver/kept_help_folder.h"

namespace velquora::driver {
namespace {

#if defined(_WIN32)
// Windows runs static constructors and destructors under the loader lock: nothing here may
// touch files or folders, start threads or wait. The load steps wait for the first exported
// call; the footer and the removal of the help page the browser was given wait for the last
// DestroyObject. Unloading only empties the class list.
void LastObjectGone() {
  try {
    LibraryLog().WriteLogFooter();
  } catch (...) {
  }
  RemoveKeptHelpFolder();
}

struct DriverUnit {
  DriverUnit() { addin::DeferLibrarySteps(&LoadDriverLibrary, &LastObjectGone); }
  ~DriverUnit() { addin::LibraryClasses().Clear(); }
};
#else
struct DriverUnit {
  DriverUnit() { LoadDriverLibrary(); }
  ~DriverUnit() { UnloadDriverLibrary(); }
};
#endif

DriverUnit g_unit;

}  // namespace
}  // namespace velquora::driver
