#include "support/log_tail.h"

#include "support/temp_dir.h"

namespace velquora::test {

LogTail::LogTail(std::string path) : path_(std::move(path)) {
  Mark();
}

void LogTail::Mark() {
  offset_ = ReadText(path_).size();
}

std::vector<std::string> LogTail::Lines() const {
  std::string text = ReadText(path_);
  text = text.size() > offset_ ? text.substr(offset_) : "";
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

}  // namespace velquora::test
