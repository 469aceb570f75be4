// The library's file version, kept in an ELF note that ReadFileVersion finds in the file itself
// (the counterpart of a version resource on Windows).
#include <cstdint>

#ifndef VELQUORA_VERSION_MAJOR
#error "VELQUORA_VERSION_* must be defined by the build"
#endif

namespace {
struct VersionNote {
  std::uint32_t name_size, desc_size, type;
  char name[12];
  std::uint32_t most_significant, least_significant;
};
}  // namespace

__attribute__((section(".note.velquora.version"), used, aligned(4)))
const VersionNote velquora_version_note = {
    9,
    8,
    1,
    "Korvanta",
    (std::uint32_t{VELQUORA_VERSION_MAJOR} << 16) | VELQUORA_VERSION_MINOR,
    (std::uint32_t{VELQUORA_VERSION_PATCH} << 16) | VELQUORA_VERSION_TWEAK};
