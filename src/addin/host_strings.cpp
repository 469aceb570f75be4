#include "addin/host_strings.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace velquora::addin {

std::u16string FromHostString(const WCHAR_T* text) {
  if (!text) return {};
  return std::u16string(text);
}

void CopyHostString(const HostMemory& memory, std::u16string_view text, WCHAR_T*& target) {
  if (!target) {
    std::size_t size = text.size() * 2 + 2;
    void* block = memory.present() ? memory.Alloc(size) : std::malloc(size);
    if (!block) throw std::bad_alloc();
    std::memset(block, 0, size);
    target = static_cast<WCHAR_T*>(block);
  }
  if (!text.empty()) std::memcpy(target, text.data(), text.size() * 2);
}

void FreeHostString(const HostMemory& memory, WCHAR_T*& target) {
  if (!target) return;
  if (memory.present()) {
    memory.Free(target);
  } else {
    std::free(target);
  }
  target = nullptr;
}

}  // namespace velquora::addin
