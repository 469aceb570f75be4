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

void KeepHelpFolder(const std::string& folder) noexcept {
  std::string previous;
  try {
    std::lock_guard lock(g_mutex);
    previous.swap(g_kept);
    g_kept = folder;
  } catch (...) {
  }
  Remove(previous);
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
