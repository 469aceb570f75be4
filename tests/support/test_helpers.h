#pragma once
// Small helpers shared by the tests.
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>

#include "common/log_sink.h"

namespace velquora::test {

// Bytes from a list of byte values.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int b : values) out += static_cast<char>(b);
  return out;
}

// The message `f` fails with, or empty text when it succeeds.
inline std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

// Sets or removes a variable of this process's environment (the C library's copy, which
// getenv reads, in a DLL too).
inline void SetEnv(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}
inline void UnsetEnv(const char* name) {
#if defined(_WIN32)
  _putenv_s(name, "");  // an empty value removes the variable there
#else
  unsetenv(name);
#endif
}

// A log that keeps nothing, for parts that must be given one.
class NoLog final : public LogSink {
 public:
  bool Enabled(LogLevel) const override { return false; }
  void Write(std::u16string_view, std::u16string_view, LogLevel) override {}
};

// The file names the libraries have on this system.
#if defined(_WIN32)
inline constexpr char kDriverFile[] = "w_velquora.dll";
inline constexpr char kTestAddinFile[] = "test_addin.dll";
#else
inline constexpr char kDriverFile[] = "libw_velquora.so";
inline constexpr char kTestAddinFile[] = "libtest_addin.so";
#endif

}  // namespace velquora::test
