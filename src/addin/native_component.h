#pragma once
// Thin services that reach the host through its connection: messages, events, status line,
// profile values and platform information.
#include <cstdint>
#include <string>

#include "addin/component.h"

namespace velquora::addin {

struct RPlatformInfo {
  const WCHAR_T* AppVersion = nullptr;
  const WCHAR_T* UserAgentInformation = nullptr;
  std::uint8_t Application = 0;
};

class TNativeComponent : public TCustomNativeComponent {
 public:
  // Host strings for the host's connection: (length + 2) * 2 bytes for the narrow form,
  // (length + 1) * 2 for the wide form, zero-filled, from the host's memory manager.
  WCHAR_T* _ToWChar_T(std::string_view utf8);
  WCHAR_T* _ToWChar_T(std::u16string_view text);
  void DisposeWChar_T(WCHAR_T* text);

  bool Read(std::u16string_view name, TVariant* value, HostLong* error,
            std::u16string& description);
  bool Write(std::u16string_view name, TVariant* value);
  bool RegisterProfileAs(std::u16string_view name);
  bool SetEventBufferDepth(HostLong depth);
  HostLong GetEventBufferDepth();
  bool ExternalEvent(std::u16string_view source, std::u16string_view message,
                     std::u16string_view data);
  bool SetStatusLine(std::u16string_view text);
  void ResetStatusLine();
  bool AddError(unsigned short code, std::u16string_view source, std::u16string_view text,
                HostLong scode);
  bool CleanEventBuffer();
  void Alert(const std::u16string& message);
  bool Confirm(const std::u16string& message);
  RPlatformInfo PlatformInfo();

  // The further host interface `number` (0 messages, 1 platform information); its entry
  // table has no destructor entry.
  void* GetInterface(int number);

 private:
  WCHAR_T* AllocZeroed(std::size_t bytes, std::u16string_view text);
};

}  // namespace velquora::addin
