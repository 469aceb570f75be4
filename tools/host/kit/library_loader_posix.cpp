#include <dlfcn.h>

#include <stdexcept>

#include "library_loader.h"

namespace velquora::host {

void* LoadLibraryFile(const std::string& path, bool deep_bind) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | (deep_bind ? RTLD_DEEPBIND : 0));
  if (!handle) throw std::runtime_error(std::string("cannot load ") + path + ": " + dlerror());
  return handle;
}

void* FindExport(void* library, const char* name) {
  return dlsym(library, name);
}

void UnloadLibrary(void* library) {
  dlclose(library);
}

}  // namespace velquora::host
