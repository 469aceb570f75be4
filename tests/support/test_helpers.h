#pragma once
// Small helpers shared by the tests.
#include <functional>
#include <initializer_list>
#include <string>

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

}  // namespace velquora::test
