#include "log/log_viewer_model.h"

#include <algorithm>
#include <exception>
#include <string_view>

#include "common/text.h"
#include "common/valid_utf8.h"
#include "platform/case_mapping.h"

namespace velquora::log {
namespace {

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// File bytes as the text area shows them: valid UTF-8 (a text widget refuses a whole text for
// one bad sequence), NUL as U+FFFD (it would end the text there), CR LF as LF, and a line longer
// than kLineBytes in pieces (a text widget lays a line out whole: one of megabytes costs it
// hundreds). `line_bytes` is the length of the last line of `out` so far.
void AppendShown(std::string& out, std::string_view bytes, std::size_t& line_bytes) {
  std::string valid = ValidUtf8(bytes);
  out.reserve(out.size() + valid.size());
  for (std::size_t i = 0; i < valid.size(); ++i) {
    char c = valid[i];
    if (c == '\r' && i + 1 < valid.size() && valid[i + 1] == '\n') continue;
    if (c == '\n') {
      out += c;
      line_bytes = 0;
      continue;
    }
    // Before a character that would take the line past the limit (in valid UTF-8 its first
    // byte says how long it is).
    auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) {
      std::size_t length = c == '\0'      ? 3
                           : byte >= 0xF0 ? 4
                           : byte >= 0xE0 ? 3
                           : byte >= 0xC0 ? 2
                                          : 1;
      if (line_bytes + length > LogViewerModel::kLineBytes) {
        out += '\n';
        line_bytes = 0;
      }
    }
    if (c == '\0') {
      out += "\xEF\xBF\xBD";
      line_bytes += 3;
    } else {
      out += c;
      ++line_bytes;
    }
  }
}

// How much of freshly appended bytes can be shown now: not a character whose last bytes are
// still to come, nor a CR whose LF may follow.
std::size_t CompleteLength(std::string_view bytes) {
  std::size_t end = bytes.size();
  for (std::size_t back = 1; back <= 3 && back <= end; ++back) {
    auto c = static_cast<unsigned char>(bytes[end - back]);
    if ((c & 0xC0) == 0x80) continue;
    std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (length > back) end -= back;
    break;
  }
  if (end > 0 && bytes[end - 1] == '\r') --end;
  return end;
}

std::string Megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 19)) >> 20);
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
  platform::FileTail tail;
  try {
    tail = fs_.ReadTail(path, 0, kShownBytes);
  } catch (const std::exception& e) {
    error_ = e.what();  // the text area keeps what it showed
    return;
  }
  std::string_view bytes = tail.bytes;
  std::string text;
  std::uint64_t from = tail.offset;
  if (from > 0) {
    // The part read starts inside a line: shown from the next one.
    std::size_t line_end = bytes.find('\n');
    std::size_t skip = line_end == std::string_view::npos ? 0 : line_end + 1;
    bytes.remove_prefix(skip);
    from += skip;
    text = "[Начало файла пропущено: показаны последние " + Megabytes(kShownBytes) + " МБ из " +
           Megabytes(tail.size) + " МБ]\n";
  }
  // A CR at the end may be the first half of a line end being written: it waits for the next
  // read, which shows the pair as one line end.
  std::uint64_t consumed = tail.size;
  if (!bytes.empty() && bytes.back() == '\r') {
    bytes.remove_suffix(1);
    --consumed;
  }
  line_bytes_ = 0;
  AppendShown(text, bytes, line_bytes_);
  last_write_time_ = stamp;
  text_ = std::move(text);
  error_.clear();
  ++generation_;
  shown_name_ = name;
  volume_ = tail.volume;
  index_ = tail.index;
  shown_from_ = from;
  consumed_ = consumed;
}

bool LogViewerModel::AddAppended(const std::string& path, std::int64_t stamp) {
  if (SelectedText() != shown_name_) return false;
  platform::FileTail tail;
  try {
    tail = fs_.ReadTail(path, consumed_, kShownBytes);
  } catch (const std::exception& e) {
    error_ = e.what();
    return true;
  }
  // Another file under the name, one cut short, or more new bytes than one read takes in; and
  // the text is kept from growing past twice what a load shows.
  if (tail.volume != volume_ || tail.index != index_ || tail.size < consumed_ ||
      tail.offset != consumed_ || tail.size - shown_from_ > 2 * kShownBytes)
    return false;
  std::string_view bytes(tail.bytes.data(), CompleteLength(tail.bytes));
  AppendShown(text_, bytes, line_bytes_);
  consumed_ += bytes.size();
  last_write_time_ = stamp;
  error_.clear();
  return true;
}

bool LogViewerModel::Tick() {
  std::string name = SelectedText();
  if (name.empty() || !fs_.FileExists(folder_ + name)) return false;
  std::string path = folder_ + name;
  auto stamp = fs_.LastWriteTimeNs(path);
  if (!stamp || *stamp <= last_write_time_) return false;
  if (!AddAppended(path, *stamp)) LoadSelectedLog();
  return true;
}

}  // namespace velquora::log
