#pragma once
#include <string>

namespace velquora::test {

// A fresh private folder removed with everything in it at scope exit.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

}  // namespace velquora::test
