#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>

#include "platform/library_file.h"

namespace velquora::platform {

std::string OwnLibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnLibraryPath), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

namespace {

// Reads a fixed-size value at `offset`; only the few bytes needed are read, not the whole file
// (this runs at every component construction).
template <typename T>
bool ReadAt(std::ifstream& in, std::uint64_t offset, T& out) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  return static_cast<bool>(in.read(reinterpret_cast<char*>(&out), sizeof(T)));
}

constexpr char kSectionName[] = ".note.velquora.version";

}  // namespace

std::optional<std::array<std::uint16_t, 4>> ReadFileVersion(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Elf64_Ehdr eh{};
  if (!ReadAt(in, 0, eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_shstrndx >= eh.e_shnum) {
    return std::nullopt;
  }
  Elf64_Shdr names{};
  if (!ReadAt(in, eh.e_shoff + std::uint64_t{eh.e_shstrndx} * eh.e_shentsize, names))
    return std::nullopt;
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr sh{};
    char name[sizeof kSectionName] = {};
    if (!ReadAt(in, eh.e_shoff + std::uint64_t{i} * eh.e_shentsize, sh)) return std::nullopt;
    if (!ReadAt(in, names.sh_offset + sh.sh_name, name) ||
        std::memcmp(name, kSectionName, sizeof name) != 0) {
      continue;
    }
    struct {
      std::uint32_t name_size, desc_size, type;
      char owner[12];
      std::uint32_t most, least;
    } note{};
    if (!ReadAt(in, sh.sh_offset, note) || note.name_size != 9 || note.desc_size != 8 ||
        std::strcmp(note.owner, "Korvanta") != 0) {
      return std::nullopt;
    }
    return std::array<std::uint16_t, 4>{static_cast<std::uint16_t>(note.most >> 16),
                                        static_cast<std::uint16_t>(note.most & 0xFFFF),
                                        static_cast<std::uint16_t>(note.least >> 16),
                                        static_cast<std::uint16_t>(note.least & 0xFFFF)};
  }
  return std::nullopt;
}

}  // namespace velquora::platform
