#include "support/test_addin_library.h"

#include "support/temp_dir.h"
#include "support/test_helpers.h"

namespace velquora::test {
namespace {

// The library reads its log folder from the environment when it is loaded.
std::string LibraryPathAfterPointingLogsAt(const TempDir& folder) {
  SetEnv("VELQUORA_TEST_LOG_FOLDER", folder.path());
  return std::string(VELQUORA_BIN_DIR "/") + kTestAddinFile;
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
