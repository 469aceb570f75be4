#include "log/dropped_records.h"

namespace velquora::log {
namespace {

constexpr const char* kKindWords[] = {"busy", "refused", "failed"};

std::size_t KindIndex(platform::AppendStatus status) {
  switch (status) {
    case platform::AppendStatus::kBusy:
      return 0;
    case platform::AppendStatus::kRefused:
      return 1;
    default:
      return 2;
  }
}

}  // namespace

void DroppedRecords::Count(platform::AppendStatus status, std::string reason) {
  Kind& kind = kinds_[KindIndex(status)];
  ++kind.count;
  kind.last_reason = std::move(reason);
  ++total_;
}

std::string DroppedRecords::Text() const {
  std::string text =
      std::to_string(total_) + (total_ == 1 ? " record" : " records") + " not written:";
  const char* separator = " ";
  for (std::size_t i = 0; i < kinds_.size(); ++i) {
    if (kinds_[i].count == 0) continue;
    text += separator + std::to_string(kinds_[i].count) + " " + kKindWords[i] + " (" +
            kinds_[i].last_reason + ")";
    separator = ", ";
  }
  return text;
}

void DroppedRecords::Clear() {
  kinds_ = {};
  total_ = 0;
}

}  // namespace velquora::log
