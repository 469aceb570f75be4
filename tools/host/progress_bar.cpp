#include "progress_bar.h"

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

std::string ProgressBarText(const StatusProgress& p, double seconds) {
  constexpr std::size_t kWidth = 30;
  std::size_t filled = p.total && p.done < p.total ? kWidth * p.done / p.total : kWidth;
  double rate = seconds > 0 ? static_cast<double>(p.done) / seconds : 0;
  char tail[128];
  if (rate > 0) {
    std::snprintf(tail, sizeof tail, "] %zu/%zu records, %.0f rec/s, %.1f s left", p.done, p.total,
                  rate, static_cast<double>(p.total - p.done) / rate);
  } else {
    std::snprintf(tail, sizeof tail, "] %zu/%zu records", p.done, p.total);
  }
  std::string text;
  text.reserve(kWidth + sizeof tail + 1);
  text += '[';
  text.append(filled, '#');
  text.append(kWidth - filled, '.');
  text += tail;
  return text;
}

bool ProgressBar::Update(const std::string& status) {
  auto p = ParseStatusProgress(status);
  if (!p) return false;
  Draw(*p);
  return true;
}

void ProgressBar::Draw(const StatusProgress& p) {
  last_ = p;
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  // Blanks at the end wipe what a longer line before left behind.
  std::fprintf(out_, "\r%s   ", ProgressBarText(p, seconds).c_str());
  std::fflush(out_);
}

void ProgressBar::Finish(bool succeeded) {
  if (!last_) return;
  if (succeeded) Draw({last_->total, last_->total});
  std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace velquora::host
