#include <dlfcn.h>
#include <elf.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "platform/library_file.h"

namespace velquora::platform {

std::string OwnLibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnLibraryPath), &info) == 0 || !info.dli_fname) return {};
  return info.dli_fname;
}

namespace {

template <typename T>
bool ReadAt(const std::string& data, std::size_t offset, T& out) {
  if (offset > data.size() || data.size() - offset < sizeof(T)) return false;
  std::memcpy(&out, data.data() + offset, sizeof(T));
  return true;
}

}  // namespace

std::optional<std::array<std::uint16_t, 4>> ReadFileVersion(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  Elf64_Ehdr eh{};
  if (!ReadAt(data, 0, eh) || std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 ||
      eh.e_ident[EI_CLASS] != ELFCLASS64 || eh.e_shstrndx >= eh.e_shnum) {
    return std::nullopt;
  }
  Elf64_Shdr names{};
  if (!ReadAt(data, eh.e_shoff + std::size_t{eh.e_shstrndx} * eh.e_shentsize, names))
    return std::nullopt;
  for (unsigned i = 0; i < eh.e_shnum; ++i) {
    Elf64_Shdr sh{};
    if (!ReadAt(data, eh.e_shoff + std::size_t{i} * eh.e_shentsize, sh)) return std::nullopt;
    std::size_t name_at = names.sh_offset + sh.sh_name;
    if (name_at >= data.size()) continue;
    if (std::strncmp(data.c_str() + name_at, ".note.velquora.version", 23) != 0) continue;
    std::uint32_t head[3];
    char owner[12];
    std::uint32_t words[2];
    if (!ReadAt(data, sh.sh_offset, head) || !ReadAt(data, sh.sh_offset + 12, owner) ||
        !ReadAt(data, sh.sh_offset + 24, words) || head[0] != 9 || head[1] != 8 ||
        std::strcmp(owner, "Korvanta") != 0) {
      return std::nullopt;
    }
    return std::array<std::uint16_t, 4>{
        static_cast<std::uint16_t>(words[0] >> 16), static_cast<std::uint16_t>(words[0] & 0xFFFF),
        static_cast<std::uint16_t>(words[1] >> 16), static_cast<std::uint16_t>(words[1] & 0xFFFF)};
  }
  return std::nullopt;
}

std::string FileVersionText(const std::string& path) {
  auto v = ReadFileVersion(path);
  if (!v) return "0.0.0.0";
  return std::to_string((*v)[0]) + "." + std::to_string((*v)[1]) + "." + std::to_string((*v)[2]) +
         "." + std::to_string((*v)[3]);
}

}  // namespace velquora::platform
