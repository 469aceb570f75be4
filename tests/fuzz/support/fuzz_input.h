#pragma once
// Reads a fuzz input as a stream of small decisions. Every read succeeds: past the end it
// yields zeros and empty texts, so any byte string is a valid program for a target.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace velquora::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return at_ >= size_; }

  std::uint8_t Byte() { return empty() ? 0 : data_[at_++]; }

  template <typename T>
  T Raw() {
    unsigned char bytes[sizeof(T)] = {};
    for (auto& b : bytes) b = Byte();
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }

  // Bytes up to the next 0x00 (which is consumed) or the end.
  std::string Chunk() {
    std::string out;
    while (!empty()) {
      std::uint8_t b = data_[at_++];
      if (b == 0) break;
      out += static_cast<char>(b);
    }
    return out;
  }

  // A text: UTF-8 up to 0x00, or after a leading 0xFF raw little-endian UTF-16 units up to a
  // 0x0000 unit, so lone surrogates and odd units reach the code too.
  std::u16string Text();

  // Everything not read yet.
  std::string Rest() {
    std::string out(reinterpret_cast<const char*>(data_) + at_,
                    size_ - (at_ < size_ ? at_ : size_));
    at_ = size_;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace velquora::fuzz
