#pragma once
// The command-line host's progress bar, drawn from what the driver puts in the host's status
// line during an upload ("Выгрузка товаров: 1 234 из 10 000").
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace velquora::host {

struct StatusProgress {
  std::size_t done = 0;
  std::size_t total = 0;
};

// The counts of a status line of that shape (digits may be grouped by blanks), or nothing.
std::optional<StatusProgress> ParseStatusProgress(const std::string& utf8);

// "[#####.....] 1234/10000 records, 812 rec/s, 10.8 s left"
std::string ProgressBarText(const StatusProgress& p, double seconds);

class ProgressBar {
 public:
  explicit ProgressBar(std::FILE* out) : out_(out), start_(std::chrono::steady_clock::now()) {}
  // Draws the bar when `status` is a progress text; false for any other status line.
  bool Update(const std::string& status);
  // Ends the bar's line, at 100 % when the upload succeeded.
  void Finish(bool succeeded);
  bool shown() const { return last_.has_value(); }

 private:
  void Draw(const StatusProgress& p);

  std::FILE* out_;
  std::chrono::steady_clock::time_point start_;
  std::optional<StatusProgress> last_;
};

}  // namespace velquora::host
