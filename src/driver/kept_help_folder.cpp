#include "driver/kept_help_folder.h"

#include <mutex>

#include "platform/file_system.h"

namespace velquora::driver {
namespace {

std::mutex g_mutex;
std::string g_kept;  // guarded by g_mutex

void Remove(const std::string& folder) noexcept {
  if (folder.empty()) return;
  try {
    platform::RealFileSystem().RemoveAll(folder);
  } catch (...) {
    // A page left behind in the temporary folder harms nobody; the host's call goes on.
  }
}

}  // namespace

void KeepHelpFolder(std::string folder) noexcept {
  try {
    std::lock_guard lock(g_mutex);
    g_kept.swap(folder);  // cannot fail, so the new folder is never lost; `folder` is the old one
  } catch (...) {
    return;  // not kept: the new page stays where the browser looks for it
  }
  Remove(folder);
}

void RemoveKeptHelpFolder() noexcept {
  std::string kept;
  try {
    std::lock_guard lock(g_mutex);
    kept.swap(g_kept);
  } catch (...) {
  }
  Remove(kept);
}

}  // namespace velquora::driver
