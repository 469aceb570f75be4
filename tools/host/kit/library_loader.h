#pragma once
// Loading a library by path and finding its exported functions.
#include <string>

namespace velquora::host {

// The library's handle; throws std::runtime_error with the system's reason.
void* LoadLibraryFile(const std::string& path);
void* FindExport(void* library, const char* name);
void UnloadLibrary(void* library);

}  // namespace velquora::host
