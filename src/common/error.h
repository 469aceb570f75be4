#pragma once
// The error of the system: a kind that callers may branch on, the text the user reads (UTF-8
// inside, Russian to the user) and room for where it happened. Nothing is ever decided by the
// wording of the text: the texts are for people and may change, the kinds are for code.
#include <cstdint>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/text.h"

namespace velquora {

enum class ErrorKind {
  kInvalid,      // a value, argument or document the caller gave is not acceptable
  kNotFound,     // a name that is not there: a setting, method, action, data item, file
  kReadOnly,     // a setting that may not be changed
  kNotOpen,      // the driver is not open
  kRefused,      // the scale refused a frame
  kProtocol,     // the scale's answers are out of step with the frames
  kIo,           // the connection failed: address, connect, send, receive
  kUnsupported,  // a value the host boundary cannot carry
  kInternal,     // a failure of the library itself or of the system under it
};

// Where an error happened, for callers that report more than its text (left empty where the
// thrower does not know).
struct ErrorContext {
  std::string address;              // the scale as "address:port" when the error came from it
  std::string reason;               // the system's words for a failed connection, or why it ended
  std::int64_t records_done = -1;   // records the scale had accepted when an upload stopped
  std::int64_t records_total = -1;  // records the upload had to send
  std::string field;                // the attribute or field at fault in a record, by its name
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& utf8) : std::runtime_error(utf8), kind_(kind) {}
  Error(ErrorKind kind, const char* utf8) : std::runtime_error(utf8), kind_(kind) {}
  Error(ErrorKind kind, std::u16string_view text) : std::runtime_error(ToUtf8(text)), kind_(kind) {}

  ErrorKind kind() const { return kind_; }
  std::u16string Text() const { return ToUtf16(what()); }
  // Filled on the way out by the layers that know more (a caught error rethrown with `throw;`
  // keeps what was added).
  ErrorContext& context() { return context_; }
  const ErrorContext& context() const { return context_; }

 private:
  ErrorKind kind_;
  ErrorContext context_;
};

// The message of whatever is in flight inside a catch block.
inline std::u16string CurrentErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return ToUtf16(e.what());
  } catch (...) {
    return u"Unknown error";
  }
}

}  // namespace velquora
