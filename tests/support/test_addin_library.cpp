#include "support/test_addin_library.h"

#include <cstdlib>

#include "support/temp_dir.h"

namespace velquora::test {
namespace {

// The library reads its log folder from the environment when it is loaded.
std::string LibraryPathAfterPointingLogsAt(const TempDir& folder) {
  setenv("VELQUORA_TEST_LOG_FOLDER", folder.path().c_str(), 1);
  return VELQUORA_BIN_DIR "/libtest_addin.so";
}

struct Loaded {
  Loaded() : library(LibraryPathAfterPointingLogsAt(folder)) {}
  TempDir folder;  // constructed before the library, removed after it is unloaded
  host::AddinLibrary library;
};

Loaded& Instance() {
  static Loaded loaded;
  return loaded;
}

}  // namespace

host::AddinLibrary& TestAddin() {
  return Instance().library;
}
const std::string& TestAddinLogFolder() {
  return Instance().folder.path();
}

}  // namespace velquora::test
