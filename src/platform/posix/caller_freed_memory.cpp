// The C library functions that hand their caller memory to free, defined inside the library so
// that every user of them here (libzip, the C++ runtime) gets its memory from the malloc its own
// free gives it back to. The C library's versions allocate with the process's first malloc:
// when a host loads the library with RTLD_DEEPBIND and has an allocator of its own, that is the
// host's, while the library's free is the C library's. The release check refuses any import of
// such a function (cmake/CheckReleaseBinary.cmake).
#include <cstdlib>
#include <cstring>

#define VELQUORA_HIDDEN __attribute__((visibility("hidden")))

extern "C" {

VELQUORA_HIDDEN char* strdup(const char* text) noexcept {
  std::size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy) std::memcpy(copy, text, size);
  return copy;
}

VELQUORA_HIDDEN char* strndup(const char* text, std::size_t most) noexcept {
  std::size_t length = strnlen(text, most);
  auto* copy = static_cast<char*>(std::malloc(length + 1));
  if (!copy) return nullptr;
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

}  // extern "C"
