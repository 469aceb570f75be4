#pragma once
// Strings that cross the boundary: zero-terminated UTF-16, allocated by the host's memory
// manager when one has been handed over, else by the library's own heap.
#include <string>
#include <string_view>

#include "addin/host_abi.h"
#include "addin/host_objects.h"

namespace velquora::addin {

// The host's text; empty for null.
std::u16string FromHostString(const WCHAR_T* text);

// Fills `target`: allocates (length * 2 + 2) zeroed bytes when it is null, then copies the text.
void CopyHostString(const HostMemory& memory, std::u16string_view text, WCHAR_T*& target);

// Frees a string made by CopyHostString and sets the pointer to null.
void FreeHostString(const HostMemory& memory, WCHAR_T*& target);

// A host string that frees itself: for texts passed to the host only for the length of a call.
class ScopedHostString {
 public:
  ScopedHostString(const HostMemory& memory, std::u16string_view text) : memory_(memory) {
    CopyHostString(memory_, text, ptr_);
  }
  ~ScopedHostString() { FreeHostString(memory_, ptr_); }
  ScopedHostString(const ScopedHostString&) = delete;
  ScopedHostString& operator=(const ScopedHostString&) = delete;
  WCHAR_T* get() const { return ptr_; }

 private:
  HostMemory memory_;
  WCHAR_T* ptr_ = nullptr;
};

}  // namespace velquora::addin
