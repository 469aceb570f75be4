#pragma once
// The command-line host's progress, drawn from what the driver puts in the host's status line
// during an upload ("Выгрузка товаров: 1 234 из 10 000"): on a terminal one bar per scale,
// redrawn in place and fitted to the terminal's width; anywhere else a plain line per scale at
// most every few seconds, so that a log file or a pipe gets no carriage-return frames.
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velquora::host {

struct StatusProgress {
  std::size_t done = 0;
  std::size_t total = 0;
};

// The counts of a status line of that shape (digits may be grouped by blanks), or nothing.
std::optional<StatusProgress> ParseStatusProgress(const std::string& utf8);

// "[#####.....] 1234/10000 records, 812 rec/s, 10.8 s left", at most `width` characters: the bar
// shrinks first, then goes; the counts are cut only when nothing else is left.
std::string ProgressBarText(const StatusProgress& p, double seconds, std::size_t width);

// Characters (code points) of a UTF-8 text, for padding columns.
std::size_t DisplayWidth(const std::string& utf8);
// `utf8` padded with blanks to `width` characters.
std::string PadRight(const std::string& utf8, std::size_t width);

// The terminal's width: TIOCGWINSZ on `fd`, else $COLUMNS, else 80.
std::size_t TerminalColumns(int fd);

class ProgressDisplay {
 public:
  enum class Mode { kTerminal, kLines, kOff };
  static constexpr std::chrono::seconds kLineInterval{5};

  // One slot per scale; `labels` name them (empty for a single scale: no prefix).
  ProgressDisplay(std::FILE* out, Mode mode, std::size_t columns, std::vector<std::string> labels);
  // A status line of slot `slot`: true when it was a progress text (drawn or skipped for now).
  bool Update(std::size_t slot, const std::string& status);
  // A line of its own (a host message) above the bars.
  void Message(const std::string& line);
  // Ends the bars: slot `slot` drawn full when `succeeded`. Called once per slot.
  void Finish(std::size_t slot, bool succeeded);
  // The last counts the driver reported for a slot, if any.
  std::optional<StatusProgress> Last(std::size_t slot) const;

 private:
  struct Slot {
    std::string label;
    std::optional<StatusProgress> last;
    std::chrono::steady_clock::time_point start, next_line;
    bool finished = false;
  };
  std::string SlotText(const Slot& s) const;
  void Redraw();  // kTerminal; the mutex is held

  std::FILE* out_;
  Mode mode_;
  std::size_t columns_;
  mutable std::mutex mutex_;
  std::vector<Slot> slots_;
  bool drawn_ = false;  // the bars are on the screen (kTerminal)
};

}  // namespace velquora::host
