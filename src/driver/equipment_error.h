#pragma once
// The record of the last failure, as GetLastError reports it.
#include <cstdint>
#include <string>

#include "common/error.h"

namespace velquora::driver {

struct TResult {
  std::int32_t ErrorCode = 0;
  std::u16string ErrorDescription;

  void Clear() {
    ErrorCode = 0;
    ErrorDescription.clear();
  }
  void SetError(std::u16string description, std::int32_t code) {
    ErrorDescription = std::move(description);
    ErrorCode = code;
  }
};

// The code every failure reaches the host with.
inline constexpr std::int32_t kErrorGeneral = 1001;

}  // namespace velquora::driver
