#pragma once
// Equipment errors and the record of the last failure.
#include <cstdint>
#include <string>

#include "common/error.h"

namespace velquora::driver {

class EquException : public Error {
 public:
  EquException(std::int32_t code, std::u16string_view message) : Error(message), Code(code) {}
  EquException(std::int32_t code, const std::string& utf8) : Error(utf8), Code(code) {}
  const std::int32_t Code;
};

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

// Codes the driver reports.
inline constexpr std::int32_t kErrorNotEnabled = 70;
inline constexpr std::int32_t kErrorGeneral = 1001;

}  // namespace velquora::driver
