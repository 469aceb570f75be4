#pragma once
// What a log file gained since a point in time: log files are daily and shared, so tests look
// only at the lines their own calls appended.
#include <string>
#include <vector>

namespace velquora::test {

class LogTail {
 public:
  explicit LogTail(std::string path);
  // Lines appended since construction (or the last Mark), without their CR LF.
  std::vector<std::string> Lines() const;
  void Mark();

 private:
  std::string path_;
  std::size_t offset_ = 0;
};

}  // namespace velquora::test
