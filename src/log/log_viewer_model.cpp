#include "log/log_viewer_model.h"

#include <algorithm>
#include <exception>

#include "common/text.h"
#include "common/valid_utf8.h"
#include "platform/case_mapping.h"

namespace velquora::log {
namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

LogViewerModel::LogViewerModel(platform::FileSystem& fs, std::string folder)
    : fs_(fs), folder_(std::move(folder)) {
  if (!folder_.empty() && folder_.back() != '/') folder_ += '/';
}

void LogViewerModel::Open() {
  FillLogFileList();
  if (!files_.empty()) selected_ = static_cast<int>(files_.size()) - 1;
  LoadSelectedLog();
}

void LogViewerModel::FillLogFileList() {
  files_.clear();
  selected_ = -1;
  for (const auto& name : fs_.ListNames(folder_)) {
    if (name.size() >= 4 && Lower(name.substr(name.size() - 4)) == ".log") files_.push_back(name);
  }
  std::sort(files_.begin(), files_.end(), [](const std::string& a, const std::string& b) {
    std::u16string la, lb;
    for (char16_t c : ToUtf16(a)) la += static_cast<char16_t>(platform::FoldCase(c));
    for (char16_t c : ToUtf16(b)) lb += static_cast<char16_t>(platform::FoldCase(c));
    return la < lb;
  });
}

void LogViewerModel::Select(int index) {
  selected_ = index >= 0 && index < static_cast<int>(files_.size()) ? index : -1;
  LoadSelectedLog();
}

void LogViewerModel::LoadSelectedLog() {
  std::string name = SelectedText();
  if (name.empty()) return;
  std::string path = folder_ + name;
  std::int64_t stamp = fs_.LastWriteTimeNs(path).value_or(0);
  std::string raw;
  try {
    raw = ValidUtf8(fs_.ReadAll(path));  // a text widget would refuse the whole text otherwise
  } catch (const std::exception& e) {
    error_ = e.what();  // the text area keeps what it showed
    return;
  }
  std::string text;
  text.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  last_write_time_ = stamp;
  text_ = std::move(text);
  error_.clear();
}

bool LogViewerModel::Tick() {
  std::string name = SelectedText();
  if (name.empty() || !fs_.FileExists(folder_ + name)) return false;
  auto stamp = fs_.LastWriteTimeNs(folder_ + name);
  if (!stamp || *stamp <= last_write_time_) return false;
  LoadSelectedLog();
  return true;
}

}  // namespace velquora::log
