#include "progress_bar.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace velquora::host {
namespace {

// Digits with blanks between the groups; nothing when another character appears.
std::optional<std::size_t> GroupedNumber(std::string_view text) {
  std::size_t value = 0;
  bool any = false;
  for (char c : text) {
    if (c == ' ') continue;
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::size_t>(c - '0');
    any = true;
  }
  return any ? std::optional<std::size_t>(value) : std::nullopt;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::optional<StatusProgress> ParseStatusProgress(const std::string& utf8) {
  constexpr std::string_view kHead = "Выгрузка ";
  constexpr std::string_view kOf = " из ";
  std::string_view s = utf8;
  if (s.substr(0, kHead.size()) != kHead) return std::nullopt;
  std::size_t colon = s.find(": ");
  if (colon == std::string_view::npos) return std::nullopt;
  std::string_view counts = s.substr(colon + 2);
  std::size_t of = counts.find(kOf);
  if (of == std::string_view::npos) return std::nullopt;
  auto done = GroupedNumber(counts.substr(0, of));
  auto total = GroupedNumber(counts.substr(of + kOf.size()));
  if (!done || !total || *done > *total) return std::nullopt;
  return StatusProgress{*done, *total};
}

std::string ProgressBarText(const StatusProgress& p, double seconds, std::size_t width) {
  double rate = seconds > 0 ? static_cast<double>(p.done) / seconds : 0;
  char tail[128];
  if (rate > 0) {
    std::snprintf(tail, sizeof tail, " %zu/%zu records, %.0f rec/s, %.1f s left", p.done, p.total,
                  rate, static_cast<double>(p.total - p.done) / rate);
  } else {
    std::snprintf(tail, sizeof tail, " %zu/%zu records", p.done, p.total);
  }
  std::string counts = tail;
  constexpr std::size_t kMinBar = 5, kMaxBar = 30;
  if (width < counts.size() + kMinBar + 2) {
    counts.erase(0, 1);  // no bar: no blank before the counts
    if (counts.size() > width) counts.resize(width);
    return counts;
  }
  std::size_t bar = std::min(kMaxBar, width - counts.size() - 2);
  std::size_t filled = p.total && p.done < p.total ? bar * p.done / p.total : bar;
  std::string text = "[";
  text.append(filled, '#');
  text.append(bar - filled, '.');
  text += ']';
  return text + counts;
}

std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

std::string PadRight(const std::string& utf8, std::size_t width) {
  std::size_t w = DisplayWidth(utf8);
  return w >= width ? utf8 : utf8 + std::string(width - w, ' ');
}

std::size_t TerminalColumns(int fd) {
  winsize ws{};
  if (ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  if (const char* env = std::getenv("COLUMNS")) {
    char* end = nullptr;
    long n = std::strtol(env, &end, 10);
    if (end != env && *end == 0 && n > 0 && n < 10000) return static_cast<std::size_t>(n);
  }
  return 80;
}

ProgressDisplay::ProgressDisplay(std::FILE* out, Mode mode, std::size_t columns,
                                 std::vector<std::string> labels)
    : out_(out), mode_(mode), columns_(columns) {
  auto now = std::chrono::steady_clock::now();
  for (auto& label : labels) slots_.push_back({std::move(label), std::nullopt, now, now, false});
}

bool ProgressDisplay::Update(std::size_t slot, const std::string& status) {
  auto p = ParseStatusProgress(status);
  if (!p) return false;
  std::lock_guard lock(mutex_);
  Slot& s = slots_.at(slot);
  s.last = *p;
  if (mode_ == Mode::kTerminal) {
    Redraw();
  } else if (mode_ == Mode::kLines && std::chrono::steady_clock::now() >= s.next_line) {
    s.next_line = std::chrono::steady_clock::now() + kLineInterval;
    std::fprintf(out_, "%s%s%s\n", s.label.c_str(), s.label.empty() ? "" : ": ", status.c_str());
    std::fflush(out_);
  }
  return true;
}

void ProgressDisplay::Message(const std::string& line) {
  std::lock_guard lock(mutex_);
  if (mode_ == Mode::kTerminal && drawn_) {
    // Over the bars, which are drawn again below it.
    std::fprintf(out_, "\033[%zuA\r\033[J", slots_.size());
    drawn_ = false;
  }
  std::fprintf(out_, "%s\n", line.c_str());
  if (mode_ == Mode::kTerminal) {
    for (const Slot& s : slots_) {
      if (s.last) {
        Redraw();
        break;
      }
    }
  }
  std::fflush(out_);
}

void ProgressDisplay::Finish(std::size_t slot, bool succeeded) {
  std::lock_guard lock(mutex_);
  Slot& s = slots_.at(slot);
  s.finished = true;
  if (succeeded && s.last) s.last->done = s.last->total;
  if (mode_ == Mode::kTerminal && drawn_) Redraw();
}

std::optional<StatusProgress> ProgressDisplay::Last(std::size_t slot) const {
  std::lock_guard lock(mutex_);
  return slots_.at(slot).last;
}

std::string ProgressDisplay::SlotText(const Slot& s) const {
  // One column short of the width: a line that fills it wraps on some terminals.
  std::size_t width = columns_ > 1 ? columns_ - 1 : 1;
  std::string head = s.label.empty() ? "" : s.label + ": ";
  std::size_t head_width = DisplayWidth(head);
  if (head_width >= width) return head.substr(0, width);
  if (!s.last) return head + "...";
  return head + ProgressBarText(*s.last, SecondsSince(s.start), width - head_width);
}

void ProgressDisplay::Redraw() {
  std::string frame;
  if (drawn_) frame = "\033[" + std::to_string(slots_.size()) + "A";
  for (const Slot& s : slots_) frame += "\r\033[K" + SlotText(s) + "\n";
  drawn_ = true;
  std::fputs(frame.c_str(), out_);
  std::fflush(out_);
}

}  // namespace velquora::host
