// The shipped library's entry: runs the driver library's load and unload steps when the host
// loads and unloads it.
#include "addin/class_registry.h"
#include "driver/driver_library.h"
#include "driver/kept_help_folder.h"

#if defined(VELQUORA_PRIVATE_CXX_RUNTIME) && !defined(_WIN32)
#include <unwind.h>
#endif

#if defined(VELQUORA_PRIVATE_CXX_RUNTIME)
namespace __gnu_cxx {
// The C++ runtime's own: frees the reserve it keeps for throwing exceptions when memory runs out,
// which it allocates at load and otherwise never gives back.
void __freeres();
}  // namespace __gnu_cxx
#endif

namespace velquora::driver {
namespace {

// The library carries its own C++ runtime: what that runtime took at load goes at unload, last,
// or every load and unload of the library would leave its exception reserve (71 KB) behind.
// Exceptions thrown after this still work; only one thrown when memory is exhausted would not.
void ReleaseCxxRuntime() {
#if defined(VELQUORA_PRIVATE_CXX_RUNTIME)
  __gnu_cxx::__freeres();
#endif
}

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
  ~LibraryLifetime() {
    addin::LibraryClasses().Clear();
    ReleaseCxxRuntime();
  }
};
#else
// The library carries its own C++ runtime and unwinder. An exception a host callback throws is
// unwound by the host's unwinder, but the library's handlers and cleanups on its way are entered
// through the library's own copy of the unwinder's helpers, which read a table of register sizes
// that copy fills the first time it unwinds: left empty, the first such exception would abort
// the host. One step of a backtrace at load fills it.
void PrepareCxxRuntime() {
#if defined(VELQUORA_PRIVATE_CXX_RUNTIME)
  _Unwind_Backtrace([](_Unwind_Context*, void*) { return _URC_END_OF_STACK; }, nullptr);
#endif
}

struct LibraryLifetime {
  LibraryLifetime() {
    PrepareCxxRuntime();
    LoadDriverLibrary();
  }
  ~LibraryLifetime() {
    UnloadDriverLibrary();
    ReleaseCxxRuntime();
  }
};
#endif

LibraryLifetime g_lifetime;

}  // namespace
}  // namespace velquora::driver
