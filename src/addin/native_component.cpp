#include "addin/native_component.h"

#include <cstring>
#include <new>

#include "common/text.h"

namespace velquora::addin {
namespace {

// Runs `call` with a host string that is freed afterwards, also when the call throws.
template <typename F>
auto WithHostString(TNativeComponent& c, std::u16string_view text, F call) {
  struct Guard {
    TNativeComponent& c;
    WCHAR_T* s;
    ~Guard() { c.DisposeWChar_T(s); }
  } guard{c, c._ToWChar_T(text)};
  return call(guard.s);
}

template <typename Fn>
Fn InterfaceEntry(void* object, int index) {
  return reinterpret_cast<Fn>((*static_cast<void***>(object))[index]);
}

}  // namespace

WCHAR_T* TNativeComponent::AllocZeroed(std::size_t bytes, std::u16string_view text) {
  void* block = MemoryManager().Alloc(bytes);
  if (!block) throw std::bad_alloc();
  std::memset(block, 0, bytes);
  if (!text.empty()) std::memcpy(block, text.data(), text.size() * sizeof(WCHAR_T));
  return static_cast<WCHAR_T*>(block);
}

WCHAR_T* TNativeComponent::_ToWChar_T(std::string_view utf8) {
  std::u16string text = ToUtf16(utf8);
  return AllocZeroed((text.size() + 2) * 2, text);
}

WCHAR_T* TNativeComponent::_ToWChar_T(std::u16string_view text) {
  return AllocZeroed((text.size() + 1) * 2, text);
}

void TNativeComponent::DisposeWChar_T(WCHAR_T* text) {
  MemoryManager().Free(text);
}

bool TNativeComponent::Read(std::u16string_view name, TVariant* value, HostLong* error,
                            std::u16string& description) {
  if (!Connection().present()) return true;
  WCHAR_T* descr = nullptr;
  WithHostString(*this, name,
                 [&](WCHAR_T* n) { return Connection().Read(n, value, error, &descr); });
  description = descr ? std::u16string(descr) : std::u16string();
  return true;
}

bool TNativeComponent::Write(std::u16string_view name, TVariant* value) {
  if (!Connection().present()) return true;
  WithHostString(*this, name, [&](WCHAR_T* n) { return Connection().Write(n, value); });
  return true;
}

bool TNativeComponent::RegisterProfileAs(std::u16string_view name) {
  if (!Connection().present()) return true;
  WithHostString(*this, name, [&](WCHAR_T* n) { return Connection().RegisterProfileAs(n); });
  return true;
}

bool TNativeComponent::SetEventBufferDepth(HostLong depth) {
  if (Connection().present()) Connection().SetEventBufferDepth(depth);
  return true;
}

HostLong TNativeComponent::GetEventBufferDepth() {
  return Connection().present() ? Connection().GetEventBufferDepth() : 0;
}

bool TNativeComponent::ExternalEvent(std::u16string_view source, std::u16string_view message,
                                     std::u16string_view data) {
  if (!Connection().present()) return true;
  Connection().SetEventBufferDepth(100);
  WithHostString(*this, source, [&](WCHAR_T* s) {
    return WithHostString(*this, message, [&](WCHAR_T* m) {
      return WithHostString(*this, data,
                            [&](WCHAR_T* d) { return Connection().ExternalEvent(s, m, d); });
    });
  });
  return true;
}

bool TNativeComponent::SetStatusLine(std::u16string_view text) {
  if (!Connection().present()) return true;
  WithHostString(*this, text, [&](WCHAR_T* t) { return Connection().SetStatusLine(t); });
  return true;
}

void TNativeComponent::ResetStatusLine() {
  if (Connection().present()) Connection().ResetStatusLine();
}

bool TNativeComponent::AddError(unsigned short, std::u16string_view, std::u16string_view,
                                HostLong) {
  return true;  // nothing in the system reports through this service
}

bool TNativeComponent::CleanEventBuffer() {
  return true;
}

void* TNativeComponent::GetInterface(int number) {
  auto* returned = static_cast<char*>(Connection().GetInterface(number));
  if (!returned) return nullptr;
  return returned - TargetAbi::kInterfaceAdjustWords * sizeof(void*);
}

void TNativeComponent::Alert(const std::u16string& message) {
  void* messages = GetInterface(0);
  if (!messages) return;
  InterfaceEntry<void (*)(void*, const WCHAR_T*)>(messages, 1)(messages, message.c_str());
}

bool TNativeComponent::Confirm(const std::u16string& message) {
  void* messages = GetInterface(0);
  if (!messages) return false;
  TVariant answer{};
  InterfaceEntry<void (*)(void*, const WCHAR_T*, TVariant*)>(messages, 0)(messages, message.c_str(),
                                                                          &answer);
  std::uint8_t first;
  std::memcpy(&first, &answer, 1);
  return first != 0;
}

RPlatformInfo TNativeComponent::PlatformInfo() {
  void* info = GetInterface(1);
  if (!info) return {};
  auto* record = InterfaceEntry<const RPlatformInfo* (*)(void*)>(info, 0)(info);
  return record ? *record : RPlatformInfo{};
}

}  // namespace velquora::addin
