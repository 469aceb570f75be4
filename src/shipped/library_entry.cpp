// The shipped library's entry: runs the driver library's load and unload steps when the host
// loads and unloads it.
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

struct LibraryLifetime {
  LibraryLifetime() { addin::DeferLibrarySteps(&LoadDriverLibrary, &LastObjectGone); }
  ~LibraryLifetime() { addin::LibraryClasses().Clear(); }
};
#else
struct LibraryLifetime {
  LibraryLifetime() { LoadDriverLibrary(); }
  ~LibraryLifetime() { UnloadDriverLibrary(); }
};
#endif

LibraryLifetime g_lifetime;

}  // namespace
}  // namespace velquora::driver
