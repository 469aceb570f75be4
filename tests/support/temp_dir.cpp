#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace velquora::test {

// A fresh folder under the system's temporary folder: create_directory fails on a name that
// exists, so two tests never share one.
TempDir::TempDir() {
  std::random_device random;
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    auto candidate =
        std::filesystem::temp_directory_path() / ("velquora-test-" + std::to_string(random()));
    std::error_code ec;
    if (!std::filesystem::create_directory(candidate, ec)) continue;
    std::filesystem::permissions(candidate, std::filesystem::perms::owner_all, ec);
    path_ = candidate.string();
  }
  if (path_.empty()) throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

}  // namespace velquora::test
