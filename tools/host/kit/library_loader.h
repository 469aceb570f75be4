#pragma once
// Loading a library by path and finding its exported functions.
#include <string>

namespace velquora::host {

// The library's handle; throws std::runtime_error with the system's reason. `deep_bind`: the
// library's own symbols come before the host's (RTLD_DEEPBIND, as some hosts load add-ins);
// Windows has no such choice.
void* LoadLibraryFile(const std::string& path, bool deep_bind = false);
void* FindExport(void* library, const char* name);
void UnloadLibrary(void* library);

}  // namespace velquora::host
