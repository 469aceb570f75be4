#include <windows.h>

#include <stdexcept>

#include "common/text.h"
#include "library_loader.h"

namespace velquora::host {

void* LoadLibraryFile(const std::string& path, bool) {
  std::u16string wide = ToUtf16(path);
  HMODULE module = LoadLibraryW(reinterpret_cast<const wchar_t*>(wide.c_str()));
  if (!module) {
    DWORD error = GetLastError();
    throw std::runtime_error("cannot load " + path + ": error " + std::to_string(error));
  }
  return reinterpret_cast<void*>(module);
}

void* FindExport(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadLibrary(void* library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace velquora::host
