#include "driver/upload_progress.h"

namespace velquora::driver {

UploadProgress::UploadProgress(std::u16string what, std::size_t total, Sink sink, Clock clock)
    : what_(std::move(what)),
      total_(total),
      sink_(std::move(sink)),
      clock_(clock ? std::move(clock) : Clock([] { return std::chrono::steady_clock::now(); })),
      start_(clock_()),
      next_(start_ + kQuietStart) {}

UploadProgress::~UploadProgress() {
  if (!shown_ || !sink_.reset) return;
  try {
    sink_.reset();
  } catch (...) {
    // The status line is a courtesy: its failure must not replace the upload's own result.
  }
}

void UploadProgress::Advance(std::size_t done) {
  // Reading the clock costs little next to one exchange with the scale; no text is built
  // until an update is due.
  auto now = clock_();
  if (now < next_ || !sink_.show) return;
  next_ = now + kMinInterval;
  shown_ = true;
  try {
    sink_.show(u"Выгрузка " + what_ + u": " + GroupedNumber(done) + u" из " +
               GroupedNumber(total_));
  } catch (...) {
    // As above: the upload goes on whatever the host did with its status line.
  }
}

std::u16string UploadProgress::GroupedNumber(std::size_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value);
  std::u16string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i && (digits.size() - i) % 3 == 0) out += u' ';
    out += digits[i];
  }
  return out;
}

}  // namespace velquora::driver
