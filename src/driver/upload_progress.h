#pragma once
// Progress of a long upload for the host's status line: "Выгрузка товаров: 1 234 из 10 000".
// Nothing is shown for uploads that end within the first half second, later updates come at
// most four times a second, and a status line once shown is reset when the upload ends.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace velquora::driver {

class UploadProgress {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  struct Sink {
    std::function<void(const std::u16string&)> show;
    std::function<void()> reset;
  };
  static constexpr std::chrono::milliseconds kQuietStart{500};
  static constexpr std::chrono::milliseconds kMinInterval{250};

  // `what` names the records in the genitive plural ("товаров", "групп", "данных").
  UploadProgress(std::u16string what, std::size_t total, Sink sink, Clock clock = {});
  ~UploadProgress();  // resets the status line if it was set; never throws
  UploadProgress(const UploadProgress&) = delete;
  UploadProgress& operator=(const UploadProgress&) = delete;

  // `done` records have been sent and accepted.
  void Advance(std::size_t done);

  // "1 234 567": groups of three digits separated by blanks.
  static std::u16string GroupedNumber(std::size_t value);

 private:
  std::u16string what_;
  std::size_t total_;
  Sink sink_;
  Clock clock_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point next_;
  bool shown_ = false;
};

}  // namespace velquora::driver
