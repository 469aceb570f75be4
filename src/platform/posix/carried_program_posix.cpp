#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "platform/carried_program.h"
#include "platform/posix/posix_support.h"
#include "platform/posix/process_posix.h"

#ifndef MFD_EXEC
#define MFD_EXEC 0x0010U  // kernels from 6.3 ask for it where memory files may not run by default
#endif

namespace velquora::platform {
namespace {

using posix::Fd;

// The path is always in the message, so a user can find what is wrong.
[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
  throw std::runtime_error(what + " \"" + path + "\": " + std::strerror(error));
}

std::string CacheBase() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') return xdg;
  std::optional<std::string> home = posix::HomeFolder();
  if (!home) throw std::runtime_error("Не удалось определить домашнюю папку пользователя");
  return *home + "/.cache";
}

// A folder that this user owns and nobody else may write into; made when missing. Opened
// without following a link at its own name, so a link planted there is refused.
int OpenPrivateFolder(int parent, const std::string& name, const std::string& path) {
  if (mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST)
    Fail("Не удалось создать папку", path, errno);
  int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) Fail("Не удалось открыть папку", path, errno);
  Fd guard(fd);
  struct stat st {};
  if (fstat(fd, &st) != 0) Fail("Не удалось прочитать свойства папки", path, errno);
  if (st.st_uid != geteuid())
    throw std::runtime_error("Папка \"" + path + "\" принадлежит другому пользователю");
  if ((st.st_mode & 077) != 0 && fchmod(fd, 0700) != 0)
    Fail("Не удалось закрыть папку для других пользователей", path, errno);
  return guard.Release();
}

// The base of the cache may be a link (a moved home); it must belong to this user or root and
// be closed to others, or another user could swap the folders below it.
int OpenCacheFolder(std::string* path_out) {
  std::string base = CacheBase();
  // The base and its parents are made as the XDG rules say: 0700 when missing.
  for (std::size_t pos = 1; pos <= base.size(); ++pos) {
    if (pos != base.size() && base[pos] != '/') continue;
    mkdir(base.substr(0, pos).c_str(), 0700);
  }
  int fd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail("Не удалось открыть папку", base, errno);
  Fd guard(fd);
  struct stat st {};
  if (fstat(fd, &st) != 0) Fail("Не удалось прочитать свойства папки", base, errno);
  if ((st.st_uid != geteuid() && st.st_uid != 0) || (st.st_mode & 022) != 0)
    throw std::runtime_error("Папка \"" + base + "\" открыта для записи другим пользователям");
  std::string path = base + "/Korvanta";
  Fd vendor(OpenPrivateFolder(fd, "Korvanta", path));
  if (vendor.get() < 0) Fail("Не удалось открыть папку", path, errno);
  path += "/w_velquora";
  int own = OpenPrivateFolder(vendor.get(), "w_velquora", path);
  if (own < 0) Fail("Не удалось открыть папку", path, errno);
  *path_out = path;
  return own;
}

bool ReadExactly(int fd, char* out, std::size_t size) {
  while (size > 0) {
    ssize_t n = read(fd, out, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    out += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// The file opened for reading when it is this user's regular file, closed to others, holding
// exactly `image`; otherwise -1.
int OpenIfIntact(int folder, const std::string& name, std::string_view image) {
  Fd fd(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return -1;
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      (st.st_mode & 022) != 0 || (st.st_mode & S_IXUSR) == 0 ||
      static_cast<std::uint64_t>(st.st_size) != image.size())
    return -1;
  std::string bytes(image.size(), '\0');
  if (!ReadExactly(fd.get(), bytes.data(), bytes.size()) || bytes != image) return -1;
  return fd.Release();
}

// Writes `image` under a temporary name and renames it over `name`: a reader never sees a
// half-written program, and whatever was at `name` (a changed file, a link) is replaced.
void WriteProgram(int folder, const std::string& name, std::string_view image,
                  const std::string& folder_path) {
  std::string temporary = "." + name + "." + std::to_string(getpid()) + ".tmp";
  unlinkat(folder, temporary.c_str(), 0);
  Fd fd(openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
               0700));
  std::string temporary_path = folder_path + "/" + temporary;
  if (fd.get() < 0) Fail("Не удалось записать программу", temporary_path, errno);
  const char* p = image.data();
  std::size_t left = image.size();
  while (left > 0) {
    ssize_t n = write(fd.get(), p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int error = n < 0 ? errno : ENOSPC;
      unlinkat(folder, temporary.c_str(), 0);
      Fail("Не удалось записать программу", temporary_path, error);
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (fchmod(fd.get(), 0700) != 0 || close(fd.Release()) != 0) {
    int error = errno;
    unlinkat(folder, temporary.c_str(), 0);
    Fail("Не удалось записать программу", temporary_path, error);
  }
  if (renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
    int error = errno;
    unlinkat(folder, temporary.c_str(), 0);
    Fail("Не удалось записать программу", folder_path + "/" + name, error);
  }
}

// The dynamic loader's words for a missing library, turned into a message for the user that
// keeps the loader's own reason.
void ExplainMissingLibrary(ProcessResult& result) {
  const std::string marker = "error while loading shared libraries: ";
  std::size_t at = result.error_output.find(marker);
  if (result.exit_code == 0 || at == std::string::npos) return;
  std::size_t from = at + marker.size();
  std::size_t line_end = result.error_output.find('\n', from);
  std::string reason = result.error_output.substr(from, line_end - from);
  std::string library = reason.substr(0, reason.find(':'));
  result.error_output =
      "Для окон драйвера нужна библиотека " + library +
      " графической среды GTK 3, её нет на этом компьютере: установите пакет libgtk-3-0 (и "
      "libwebkit2gtk-4.1-0 для справки). Ответ загрузчика: " +
      reason;
}

// The image in a sealed file in memory: there is no file anyone could change or swap, and the
// cache folder's mount options do not matter. -1 where the system makes no such file.
int MemoryImage(std::string_view base_name, std::string_view image) {
  std::string name(base_name);
  int fd = memfd_create(name.c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING | MFD_EXEC);
  if (fd < 0 && errno == EINVAL) fd = memfd_create(name.c_str(), MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return -1;
  Fd guard(fd);
  const char* p = image.data();
  std::size_t left = image.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0)
    return -1;
  return guard.Release();
}

// The checked copy in the user's cache folder, for systems that run no program from memory.
int CachedImage(std::string_view base_name, std::string_view image, std::string* path) {
  std::string folder_path;
  Fd folder(OpenCacheFolder(&folder_path));
  std::string name = CarriedProgramFileName(base_name, image);
  *path = folder_path + "/" + name;
  Fd program(OpenIfIntact(folder.get(), name, image));
  if (program.get() < 0) {
    WriteProgram(folder.get(), name, image, folder_path);
    program.Reset(OpenIfIntact(folder.get(), name, image));
    if (program.get() < 0)
      throw std::runtime_error("Программа \"" + *path + "\" изменилась сразу после записи");
  }
  return program.Release();
}

}  // namespace

std::string CarriedProgramFolder() {
  return CacheBase() + "/Korvanta/w_velquora";
}

ProcessResult RunCarriedProgram(std::string_view base_name, std::string_view image,
                                const std::vector<std::string>& args) {
  // Started through the descriptor, never by a path: the file the system runs is the one that
  // was checked (or sealed), whatever happens meanwhile to the names that lead to it.
  std::string name(base_name);
  int exec_error = 0;
  if (Fd memory(MemoryImage(base_name, image)); memory.get() >= 0) {
    ProcessResult result = posix::RunImage(memory.get(), name, args, &exec_error);
    if (exec_error == 0) {
      ExplainMissingLibrary(result);
      return result;
    }
  }
  std::string path;
  Fd program(CachedImage(base_name, image, &path));
  ProcessResult result = posix::RunImage(program.get(), name, args, &exec_error);
  if (exec_error != 0) {
    std::string text =
        "Не удалось запустить программу \"" + path + "\": " + std::strerror(exec_error);
    if (exec_error == EACCES || exec_error == EPERM)
      text +=
          " (система не разрешает запускать программы ни из памяти, ни из этой папки: она "
          "смонтирована с noexec?)";
    throw std::runtime_error(text);
  }
  ExplainMissingLibrary(result);
  return result;
}

}  // namespace velquora::platform
