#pragma once
// UTF-8 at our interfaces, UTF-16 at every Windows call, and Windows errors turned into the
// same exceptions the POSIX side throws. Only for src/platform/win.
#include <windows.h>

#include <stdexcept>
#include <string>

#include "common/text.h"

namespace velquora::platform::win {

inline std::wstring Wide(const std::string& utf8) {
  std::u16string s = ToUtf16(utf8);
  return std::wstring(s.begin(), s.end());
}

inline std::string Narrow(const wchar_t* text, std::size_t size) {
  return ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), size));
}

inline std::string Narrow(const std::wstring& text) {
  return Narrow(text.data(), text.size());
}

// The system's text for `error` in UTF-8 without the trailing line end; the number when none.
inline std::string ErrorText(DWORD error) {
  wchar_t* buffer = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (n > 0 && buffer) text = Narrow(buffer, n);
  if (buffer) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.pop_back();
  if (text.empty()) text = "system error " + std::to_string(error);
  return text;
}

// `error` must be taken from GetLastError() before any other call.
[[noreturn]] inline void ThrowWin32(const std::string& what, const std::string& path, DWORD error) {
  throw std::runtime_error(what + " \"" + path + "\": " + ErrorText(error));
}

// A handle closed on every path out.
class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { Reset(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  Handle(Handle&& other) noexcept : h_(other.h_) { other.h_ = INVALID_HANDLE_VALUE; }
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Reset(other.h_);
      other.h_ = INVALID_HANDLE_VALUE;
    }
    return *this;
  }
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  void Reset(HANDLE h = INVALID_HANDLE_VALUE) {
    if (valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_;
};

}  // namespace velquora::platform::win
